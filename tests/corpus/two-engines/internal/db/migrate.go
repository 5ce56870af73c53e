package db
