// Wiki.js server entry
