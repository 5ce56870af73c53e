package com.example.orders;

@org.springframework.boot.autoconfigure.SpringBootApplication
public class OrdersApplication {}
