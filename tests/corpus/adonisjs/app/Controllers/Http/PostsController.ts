export default class PostsController {}
