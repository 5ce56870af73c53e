export const posts = () => db.post.findMany()
