// Pictures of the page for the documents: the whole line, a station zoomed in, a signal's
// tooltip. scripts/test-browser.sh --screenshots DIR makes the page and runs this.
//   node screenshots.js PAGE.html OUT_DIR
import path from "node:path";
import { openBrowser, openPage } from "./browser.js";

const [file, outDir] = process.argv.slice(2);
const browser = await openBrowser({ width: 1400, height: 960 });
try {
  const { page, errors } = await openPage(browser.context, file);
  await page.screenshot({ path: path.join(outDir, "view-line.png") });

  // Around AVERSA: a speed board and an indication board with their texts, a slow order with
  // its warning board and the code points that the compile inserted before it.
  await page.evaluate(() => window.compactorView.show(193400, 5000));
  await page.fill("#find", "AVERSA");
  await page.waitForTimeout(200);
  await page.screenshot({ path: path.join(outDir, "view-station.png") });

  await page.evaluate(() => window.compactorView.show(193400, 2500));
  await page.waitForTimeout(100);
  const signal = (await page.evaluate(() => window.compactorView.drawn()))
    .find((d) => d.category === "signal");
  await page.mouse.move(signal.x, signal.y);
  await page.waitForSelector("#tooltip:not([hidden])");
  await page.screenshot({ path: path.join(outDir, "view-tooltip.png") });
  if (errors.length > 0) throw new Error("the page reported: " + errors.join("; "));
} finally {
  await browser.close();
}
