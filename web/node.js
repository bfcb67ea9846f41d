// As a command, `node ohmrechner.js`: standard input and output are raw
// bytes, as for the Linux program in a pipe, and so is the pause, which
// writes its prompt and ends.  Its names stay inside the block, out of
// the way of whoever loads the file as a module.
if (typeof require === "function" && require.main === module) {
	const fs = require("fs");
	const host = {
		read: function (fd, max) {
			return new Promise(function again(done, fail) {
				fs.read(fd, Buffer.alloc(max), 0, max, null,
				    function (e, n, bytes) {
					// Someone else's non-blocking input.
					if (e && e.code === "EAGAIN")
						setTimeout(again, 10, done, fail);
					else if (e)
						fail(e);
					else
						done(bytes.subarray(0, n));
				});
			});
		},
		write: function (fd, bytes) {
			for (var at = 0; at < bytes.length;)
				at += fs.writeSync(fd, bytes, at);
		},
		key: function () {},
	};
	// Called so, main's status comes back even when it returns after
	// having waited; emscripten's own start would drop it.  Its
	// arguments go on the program's stack, as C start-up puts them.
	createOhmrechner({ host: host }).then(function (program) {
		const args = ["ohmrechner"].concat(process.argv.slice(2));
		const argv = program.stackAlloc(4 * (args.length + 1));
		const words = program.HEAPU32.subarray(argv >> 2);
		args.forEach(function (arg, i) {
			words[i] = program.allocateUTF8OnStack(arg);
		});
		words[args.length] = 0;
		return program.ccall("main", "number", ["number", "number"],
		    [args.length, argv], { async: true });
	}).then(function (status) {
		process.exitCode = status;
	});
}
