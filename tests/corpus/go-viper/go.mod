module github.com/acme/inventory

go 1.22
