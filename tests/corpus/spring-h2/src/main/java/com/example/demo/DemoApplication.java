package com.example.demo;
