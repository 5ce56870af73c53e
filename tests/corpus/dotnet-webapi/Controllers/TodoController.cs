namespace TodoApi.Controllers;
public class TodoController {}
