package petstore;
public class Application {}
