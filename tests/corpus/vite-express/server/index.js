import pg from 'pg'
const pool = new pg.Pool()  // reads the PG* variables
