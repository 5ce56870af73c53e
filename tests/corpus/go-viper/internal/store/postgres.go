package store
