package demo;
public class Event {}
