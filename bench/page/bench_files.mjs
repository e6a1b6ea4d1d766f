// What both page benches share: the built page, the test host and the script
// writer found in the build (an error naming what to build when one is
// missing), a long script with its marks in a fresh folder, the host serving
// it to a fresh Chromium, and everything closed and removed afterwards.

import { execFileSync } from 'node:child_process';
import { existsSync, mkdtempSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { CHROMIUM, launchChromium, marksPath, startHost } from '../../web/e2e/harness.mjs';

export function median(xs) {
  if (xs.length === 0) return NaN;
  const s = [...xs].sort((a, b) => a - b);
  const m = Math.floor(s.length / 2);
  return s.length % 2 ? s[m] : (s[m - 1] + s[m]) / 2;
}

function benchTools(build) {
  const tools = {
    hostPath: join(build, 'tests/page_host/tallowmark_page_host'),
    writer: join(build, 'tests/page_host/tallowmark_page_script'),
    pageFile: join(build, 'resources/tallowmark/index_inlined.html'),
  };
  for (const p of Object.values(tools)) {
    if (!existsSync(p)) throw new Error(`${p} is missing: build tallowmark_page, tallowmark_page_host and tallowmark_page_script`);
  }
  return tools;
}

// Runs `body({ port, context, work })` against a script of `pageCount` pages
// whose marks `writeMarks(pdf)` wrote; answers its exit code (1 without Chromium).
export async function benchSession({ build, name, pageCount, writeMarks, hostOptions = () => ({}) }, body) {
  if (!existsSync(CHROMIUM)) {
    console.log(`bench/page: ${CHROMIUM} is not installed`);
    return 1;
  }
  const { hostPath, writer, pageFile } = benchTools(build);
  const work = mkdtempSync(join(tmpdir(), `tallowmark-${name}-bench-`));
  let host;
  let context;
  try {
    const pdf = join(work, `bench-${pageCount}.pdf`);
    execFileSync(writer, [String(pageCount), pdf], { stdio: 'inherit' });
    writeMarks(pdf);
    host = startHost(hostPath, pageFile, pdf, join(work, 'config'), hostOptions(work));
    const port = await host.port;
    context = await launchChromium(join(work, 'profile'));
    return await body({ port, context, work });
  } finally {
    if (context) await context.close().catch(() => {});
    if (host) await host.stop();
    rmSync(work, { recursive: true, force: true });
  }
}

// The script's marks file holding these cues and nothing else.
export function writeCues(pdf, cues) {
  writeFileSync(marksPath(pdf), JSON.stringify({
    crop: [], cues, documentName: pdf.split('/').pop(), flags: [], inserts: [], marks: [], memos: [],
    pageLabelOffset: 0, pageTexts: {}, spreadOffset: 0, version: 1,
  }));
}
