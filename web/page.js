// The page as a console for the program: its output and the echo of each
// typed line go into the console, each line sent with Enter into its
// standard input.  After the pause the program starts afresh, as if it
// had been started again.
"use strict";

const screen = document.getElementById("konsole");
const news = document.getElementById("neu");
const line = document.getElementById("zeile");
const field = document.getElementById("eingabe");
// The program writes Windows-1252; what is typed goes in as UTF-8, as a
// terminal would send it.
const cp1252 = new TextDecoder("windows-1252");
const utf8 = new TextEncoder();
// Keys that type nothing do not end the pause, as at a terminal.
const silent = ["Shift", "Control", "Alt", "AltGraph", "Meta", "CapsLock"];

let typed = new Uint8Array(0); // sent, and not yet read
let reader = null; // a read that waits for a line
let pausing = null; // the pause, waiting for a key
let down = null; // where a pointer went down, until it comes up
let said = ""; // written since the program last waited

const host = {
	write(fd, bytes) {
		const text = cp1252.decode(bytes);
		said += text;
		show(text);
	},
	read(fd, max) {
		if (typed.length === 0)
			announce();
		return new Promise((resolve) => {
			reader = { max, resolve };
			feed();
		});
	},
	key() {
		announce();
		return new Promise((resolve) => {
			pausing = resolve;
		});
	},
};

// What the program wrote is announced once, as one line, when it comes
// to wait for the user: the console itself is not live, lest a screen
// reader read it all again, and a message of its own for each write
// would come in pieces.  The echo of a typed line is not announced: the reader has said
// each key as it was typed.
function announce() {
	if (said.trim() === "")
		return;
	const item = document.createElement("span");
	item.textContent = said.replace(/\s+/g, " ").trim();
	news.replaceChildren(item);
	said = "";
}

// The field is named after the line that it stands on: what is asked.
function show(text) {
	screen.append(text);
	const all = screen.textContent;
	field.setAttribute("aria-label",
		all.slice(all.lastIndexOf("\n") + 1).trim() || "Eingabe");
	field.scrollIntoView({ block: "nearest" });
}

// Hands what was typed to a waiting read, as much as it takes.
function feed() {
	if (reader === null || typed.length === 0)
		return;
	const { max, resolve } = reader;
	reader = null;
	resolve(typed.slice(0, max));
	typed = typed.slice(max);
}

function send(event) {
	event.preventDefault();
	const text = field.value + "\n";
	field.value = "";
	field.focus();
	show(text);
	const bytes = utf8.encode(text);
	const joined = new Uint8Array(typed.length + bytes.length);
	joined.set(typed);
	joined.set(bytes, typed.length);
	typed = joined;
	feed();
}

function acknowledge(event) {
	if (pausing === null || silent.includes(event.key))
		return;
	event.preventDefault();
	const resume = pausing;
	pausing = null;
	resume();
}

// The program comes deflated, as base64, in a block of its own, and is
// compiled once for all its runs.
async function compile() {
	const packed = document.getElementById("programm").textContent;
	const bytes = Uint8Array.from(atob(packed), (c) => c.charCodeAt(0));
	const inflated = new Blob([bytes]).stream()
		.pipeThrough(new DecompressionStream("deflate-raw"));
	return WebAssembly.compile(await new Response(inflated).arrayBuffer());
}

function start(module) {
	screen.textContent = "";
	field.value = "";
	typed = new Uint8Array(0);
	field.focus();
	run(module, host).then(() => start(module), fail);
}

function fail(error) {
	show("\n" + error + "\n");
}

line.addEventListener("submit", send);
field.addEventListener("keydown", acknowledge);
// A phone's keyboard may send no key, only the text.
field.addEventListener("input", acknowledge);
// So may a tap or a click: a pointer that comes up where it went down.
// One that scrolls, zooms or selects text has moved, or the browser has
// taken it over and cancelled it.
document.addEventListener("pointerdown", (event) => {
	down = event.isPrimary ? event : null;
});
document.addEventListener("pointercancel", () => {
	down = null;
});
document.addEventListener("pointerup", (event) => {
	const tap = down !== null && document.getSelection().isCollapsed
		&& Math.hypot(event.clientX - down.clientX,
			event.clientY - down.clientY) < 10;
	down = null;
	if (tap)
		acknowledge(event);
});
// A click anywhere goes to the field, unless it selects text to copy.
document.addEventListener("click", () => {
	if (document.getSelection().isCollapsed)
		field.focus();
});
// A screen reader takes what the live line says only once the page has
// loaded: before, while it still builds its view of the page, Orca in
// Firefox drops it, and the menu would go unsaid.
const loaded = new Promise((resolve) => {
	if (document.readyState === "complete")
		resolve();
	else
		addEventListener("load", resolve, { once: true });
});
// An older browser keeps the page's own line that says so.
if ("WebAssembly" in window && "DecompressionStream" in window)
	Promise.all([compile(), loaded]).then(([module]) => start(module), fail);

// Served from the web, the page is an app: its manifest puts it on the
// home screen, and its worker keeps it for times without a network.
// Opened from disk, it asks for neither.
if (location.protocol !== "file:" && "serviceWorker" in navigator) {
	for (const [rel, href] of [["manifest", "manifest.json"],
		["apple-touch-icon", "icons/apple-touch-icon.png"]]) {
		const link = document.createElement("link");
		link.rel = rel;
		link.href = href;
		document.head.append(link);
	}
	// Without a worker, the app still runs; only not offline.
	navigator.serviceWorker.register("sw.js").catch(() => {});
}
