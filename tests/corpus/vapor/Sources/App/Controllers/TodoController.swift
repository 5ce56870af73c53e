import Vapor
struct TodoController: RouteCollection {}
