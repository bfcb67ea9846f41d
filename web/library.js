// The command's standard streams and its pause, as the imports of the
// compiled module.  node.js starts it and hands in a host:
//   host.write(fd, bytes)  takes output at once, or throws a system error;
//   host.read(fd, max)     gives up to max bytes of input, or a promise;
//   host.key()             returns, or a promise, once a key is pressed.
// A read or a key may take as long as the user does: the program waits
// where it stands, unwound by Asyncify, and goes on when they are there.
mergeInto(LibraryManager.library, {
	$hostErrno__deps: ["$ERRNO_CODES"],
	$hostErrno: function (e) {
		return ERRNO_CODES[e && e.code] || {{{ cDefine("EIO") }}};
	},

	// WASI's list of buffers, as views into the program's memory.
	$buffers: function (iov, iovcnt) {
		var list = [];
		for (var i = 0; i < iovcnt; i++, iov += 8) {
			var at = HEAPU32[iov >> 2];
			list.push(HEAPU8.subarray(at, at + HEAPU32[(iov + 4) >> 2]));
		}
		return list;
	},

	fd_write__deps: ["$hostErrno", "$buffers"],
	fd_write: function (fd, iov, iovcnt, pnum) {
		var done = 0;
		try {
			buffers(iov, iovcnt).forEach(function (buffer) {
				Module["host"].write(fd, buffer.slice());
				done += buffer.length;
			});
		} catch (e) {
			return hostErrno(e);
		}
		HEAPU32[pnum >> 2] = done;
		return 0;
	},

	// The C library reads into two buffers, the first often empty:
	// they are filled in order.
	fd_read__deps: ["$hostErrno", "$buffers"],
	fd_read: function (fd, iov, iovcnt, pnum) {
		return Asyncify.handleSleep(function (wakeUp) {
			var max = buffers(iov, iovcnt).reduce(function (n, buffer) {
				return n + buffer.length;
			}, 0);
			Promise.resolve(max).then(function (n) {
				return Module["host"].read(fd, n);
			}).then(function (bytes) {
				var got = 0;
				buffers(iov, iovcnt).forEach(function (buffer) {
					var part = bytes.subarray(got, got + buffer.length);
					buffer.set(part);
					got += part.length;
				});
				HEAPU32[pnum >> 2] = got;
				wakeUp(0);
			}, function (e) {
				wakeUp(hostErrno(e));
			});
		});
	},

	ohm_key: function () {
		return Asyncify.handleSleep(function (wakeUp) {
			Promise.resolve(Module["host"].key()).then(function () {
				wakeUp(0);
			});
		});
	},
});
