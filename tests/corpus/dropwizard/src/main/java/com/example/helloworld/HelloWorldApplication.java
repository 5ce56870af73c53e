package com.example.helloworld;
