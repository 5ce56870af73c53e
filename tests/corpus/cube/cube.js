// Cube configuration options: https://cube.dev/docs/config
module.exports = {};
