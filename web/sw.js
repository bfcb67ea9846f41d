// Keeps this release of the app for the times without a network.  On
// the first visit it stores the page and the app's files; while there is
// a network, the network answers, so that the next visit brings a new
// release in, whose own worker then replaces this one and deletes this
// release's files.  Without a network, the stored files answer.
"use strict";

// Named by the release's content, and by the folder the app is in: other
// apps of the same site keep their own.
const prefix = "ohmrechner " + self.registration.scope + " ";
const release = prefix + "@RELEASE@";
const files = @FILES@;

self.addEventListener("install", (event) => {
	// Checked with the server, as the browser may hold an older copy;
	// what it has just loaded is not sent again.
	const fresh = files.map((file) => new Request(file, { cache: "no-cache" }));
	event.waitUntil(caches.open(release)
		.then((cache) => cache.addAll(fresh))
		.then(() => self.skipWaiting()));
});

self.addEventListener("activate", (event) => {
	event.waitUntil(caches.keys()
		.then((names) => Promise.all(names
			.filter((name) => name.startsWith(prefix) && name !== release)
			.map((name) => caches.delete(name))))
		.then(() => self.clients.claim()));
});

self.addEventListener("fetch", (event) => {
	const request = event.request;
	if (request.method !== "GET"
		|| !request.url.startsWith(self.registration.scope))
		return;
	// The server's answer, checked with it even when the browser holds a
	// copy; the stored one only when no answer comes.
	event.respondWith(fetch(request.url, { cache: "no-cache" })
		.catch(() => caches.match(request,
			{ cacheName: release, ignoreSearch: true }))
		.then((response) => response || Response.error()));
});
