module example.com/billing

go 1.22
