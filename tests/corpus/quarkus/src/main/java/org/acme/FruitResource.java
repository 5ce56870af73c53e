package org.acme;
public class FruitResource {}
