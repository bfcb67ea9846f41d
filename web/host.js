// The compiled program's host in a page: the module's imports, and the
// waits for a line or a key, during which the program is unwound by
// Asyncify, kept in its memory, and rewound to go on where it stood.
// The build fails when the module asks for an import that is not here.
"use strict";

// WASI's error numbers that these imports give.  A host's failure is
// known by the system's name for it, as Node.js gives it; any other is
// EIO.
const ERRNO = { EBADF: 8, EIO: 29, ENOSPC: 51, EPIPE: 64 };
const ESPIPE = 70;

// Runs main once, in a fresh instance of the module, with the host's
// write(fd, bytes), read(fd, max) and key(), and the command's args;
// the promise gives its status.
async function run(module, host, args = []) {
	let program = null;
	let data = 0; // where Asyncify keeps the unwound stack
	let waiting = null; // what the program waits for, while unwound
	let answer = 0; // what the wait came to, for the rewound call

	// An import that waits: the first call starts it and unwinds; once
	// it is over, the rewound program calls the import again and gets
	// the answer.
	function wait(begin) {
		const exports = program.exports;
		if (exports.asyncify_get_state() === 2) {
			exports.asyncify_stop_rewind();
			return answer;
		}
		waiting = begin();
		const words = new Uint32Array(exports.memory.buffer, data, 2);
		words[0] = data + 8;
		words[1] = data + 8 + 4096;
		exports.asyncify_start_unwind(data);
		return 0;
	}

	// WASI's list of buffers, as views into the program's memory.
	function buffers(iov, count) {
		const memory = program.exports.memory.buffer;
		const words = new Uint32Array(memory, iov, 2 * count);
		const list = [];
		for (let i = 0; i < 2 * count; i += 2)
			list.push(new Uint8Array(memory, words[i], words[i + 1]));
		return list;
	}

	function store(at, value) {
		new Uint32Array(program.exports.memory.buffer, at, 1)[0] = value;
	}

	const imports = {
		wasi_snapshot_preview1: {
			fd_write(fd, iov, count, done) {
				let n = 0;
				try {
					for (const buffer of buffers(iov, count)) {
						host.write(fd, buffer.slice());
						n += buffer.length;
					}
				} catch (e) {
					// The program only reports it.
					return ERRNO[e?.code] ?? ERRNO.EIO;
				}
				store(done, n);
				return 0;
			},
			// The C library reads into two buffers, the first often
			// empty: they are filled in order.
			fd_read(fd, iov, count, done) {
				return wait(async () => {
					const list = buffers(iov, count);
					let max = 0;
					for (const buffer of list)
						max += buffer.length;
					let bytes;
					try {
						bytes = await host.read(fd, max);
					} catch (e) {
						return ERRNO[e?.code] ?? ERRNO.EIO;
					}
					let n = 0;
					for (const buffer of list) {
						const part = bytes.subarray(n, n + buffer.length);
						buffer.set(part);
						n += part.length;
					}
					store(done, n);
					return 0;
				});
			},
			// A console cannot seek, and there is nothing to close.
			fd_seek() {
				return ESPIPE;
			},
			fd_close() {
				return 0;
			},
		},
		env: {
			ohm_key() {
				wait(() => host.key());
			},
			// No heap, and a memory that cannot grow: only scanf's %m
			// conversions ask for a heap, which the program does not
			// use; no memory is their failure.
			malloc() {
				return 0;
			},
			realloc() {
				return 0;
			},
			free() {},
		},
	};

	program = await WebAssembly.instantiate(module, imports);
	const exports = program.exports;
	exports._initialize();
	data = exports.stackAlloc(8 + 4096);
	// The arguments on the program's stack, as C's start-up puts them.
	const argv = exports.stackAlloc(4 * (args.length + 1));
	const words = new Uint32Array(exports.memory.buffer, argv, args.length + 1);
	args.forEach((arg, i) => {
		const bytes = new TextEncoder().encode(arg + "\0");
		words[i] = exports.stackAlloc(bytes.length);
		new Uint8Array(exports.memory.buffer, words[i]).set(bytes);
	});
	let status = exports.main(args.length, argv);
	while (waiting !== null) {
		exports.asyncify_stop_unwind();
		answer = await waiting;
		waiting = null;
		exports.asyncify_start_rewind(data);
		status = exports.main(args.length, argv);
	}
	return status;
}
