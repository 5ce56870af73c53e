package com.example

fun main() {}
