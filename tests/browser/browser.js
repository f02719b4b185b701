// Debian's chromium, headless, driven over the DevTools protocol by playwright-core: no browser
// of its own is downloaded. Each launch gets a fresh profile directory, removed on close.
import { chromium } from "playwright-core";
import fs from "node:fs";
import os from "node:os";
import path from "node:path";

export const CHROMIUM = process.env.CHROMIUM || "/usr/bin/chromium";

const FLAGS = ["--no-sandbox", "--disable-gpu", "--no-first-run", "--disable-background-networking",
  "--disable-component-update", "--disable-sync"];

// A browser context with one page of the given size; close() ends the browser and removes its
// profile.
export async function openBrowser(viewport = { width: 1400, height: 1000 }) {
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), "compactor-chromium-"));
  const context = await chromium.launchPersistentContext(profile, {
    executablePath: CHROMIUM, headless: true, args: FLAGS, viewport,
  });
  return {
    context,
    async close() {
      await context.close();
      fs.rmSync(profile, { recursive: true, force: true });
    },
  };
}

// Opens a page file, collects what it reports as errors, and waits until it has drawn itself.
export async function openPage(context, file, fragment = "") {
  const page = await context.newPage();
  const errors = [];
  page.on("console", (m) => { if (m.type() === "error") errors.push(m.text()); });
  page.on("pageerror", (e) => errors.push(e.message));
  page.on("request", (r) => {
    if (!r.url().startsWith("file://")) errors.push("request for " + r.url());
  });
  const started = Date.now();
  await page.goto("file://" + file + fragment);
  await page.waitForFunction(() => document.body.dataset.ready === "true", null, { timeout: 20000 });
  const loadMs = Date.now() - started;
  return { page, errors, loadMs };
}
