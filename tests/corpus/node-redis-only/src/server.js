const Redis = require('ioredis');
