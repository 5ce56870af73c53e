module example.com/shortener

go 1.22
