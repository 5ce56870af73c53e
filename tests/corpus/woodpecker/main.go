package main
func main() {}
