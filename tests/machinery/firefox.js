// Firefox for the browser tests, which are Python's: Debian has no
// geckodriver, but Firefox speaks WebDriver BiDi itself, and
// puppeteer-core drives it so.  One command a line comes in on standard
// input, as a JSON array of a verb and its arguments; one answer a line
// goes out, {"value": ...} or {"error": "..."}.
"use strict";

const puppeteer = require("puppeteer-core");
const readline = require("readline");

async function main() {
	const browser = await puppeteer.launch({
		browser: "firefox",
		executablePath: process.env.FIREFOX || "/usr/bin/firefox-esr",
		headless: true,
	});
	const page = await browser.newPage();
	let errors = [];
	let requests = [];
	page.on("console", (message) => {
		if (message.type() === "error" || message.type() === "warn")
			errors.push(message.text());
	});
	page.on("pageerror", (error) => errors.push(String(error)));
	page.on("request", (request) => requests.push(request.url()));

	const verbs = {
		open: (url) => page.goto(url).then(() => null),
		// A function's body and its arguments, as WebDriver runs scripts.
		script: (body, args) => page.evaluate(
			`(async function () { ${body} }).apply(null, ${JSON.stringify(args)})`),
		type: (text) => page.type("#eingabe", text)
			.then(() => page.keyboard.press("Enter")),
		key: (name) => page.keyboard.press(name),
		click: () => page.click("main"),
		resize: (width, height) => page.setViewport({ width, height }),
		errors: () => errors.splice(0),
		requests: () => requests.splice(0),
	};
	const lines = readline.createInterface({ input: process.stdin });
	for await (const line of lines) {
		const [verb, ...args] = JSON.parse(line);
		let answer;
		try {
			answer = { value: await verbs[verb](...args) };
		} catch (error) {
			answer = { error: String(error) };
		}
		process.stdout.write(JSON.stringify(answer) + "\n");
	}
	await browser.close();
}

main().catch((error) => {
	process.stderr.write(`${error}\n`);
	process.exit(1);
});
