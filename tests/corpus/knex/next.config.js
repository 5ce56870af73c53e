module.exports = { reactStrictMode: true, env: { password: "x" } }
