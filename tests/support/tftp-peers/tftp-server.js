// A TFTP server on the npm package "tftp" for the interoperability tests:
// it stores write requests in ROOT, listening on IP:PORT. Each transfer
// answers from a socket of its own that the package binds to the wildcard
// address, so the reply comes from the address the host picks for the way
// back, not always IP. It ends itself after five minutes, should the test
// that started it not stop it.
//
// Usage: node tftp-server.js NODE_MODULES IP PORT ROOT
"use strict";

const path = require("path");

const [modules, host, port, root] = process.argv.slice(2);
const tftp = require(path.join(modules, "tftp"));
const server = tftp.createServer({ host, port: Number(port), root, denyGET: true });
server.on("error", (error) => {
    console.error(String(error));
    process.exit(1);
});
setTimeout(() => process.exit(0), 5 * 60 * 1000);
server.listen();
