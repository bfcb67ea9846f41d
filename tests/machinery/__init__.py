"""What the test groups stand on, and are not themselves: how to run the
program and find its artifacts (common), browsers to drive (engines), a
desktop with a screen reader (desktop), and the Windows tests' fixtures
(ia32, wineup)."""
