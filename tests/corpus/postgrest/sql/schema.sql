create schema api;
