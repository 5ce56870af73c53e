-- +goose Up
CREATE TABLE links (id serial PRIMARY KEY, url text NOT NULL);
-- +goose Down
DROP TABLE links;
