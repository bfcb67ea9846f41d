// As a command, `node ohmrechner.js`: the module that the page carries,
// ohmrechner.wasm beside this file, run by the page's host, which the
// build puts before these lines.  Standard input and output are raw
// bytes, as for the Linux program in a pipe, and so is the pause, which
// writes its prompt and ends.  A failure is thrown as Node.js gives it,
// with the system's name for it, which the host hands to the program.
const fs = require("fs");
const path = require("path");

const streams = {
	read(fd, max) {
		return new Promise(function again(done, fail) {
			fs.read(fd, Buffer.alloc(max), 0, max, null, (e, n, bytes) => {
				// Someone else's non-blocking input.
				if (e?.code === "EAGAIN")
					setTimeout(again, 10, done, fail);
				else if (e)
					fail(e);
				else
					done(bytes.subarray(0, n));
			});
		});
	},
	write(fd, bytes) {
		for (let at = 0; at < bytes.length;)
			at += fs.writeSync(fd, bytes, at);
	},
	key() {},
};

const program = new WebAssembly.Module(
	fs.readFileSync(path.join(__dirname, "ohmrechner.wasm")));
run(program, streams, ["ohmrechner", ...process.argv.slice(2)])
	.then((status) => {
		process.exitCode = status;
	});
