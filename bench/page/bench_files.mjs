// What both page benches start from: the built page, the test host and the
// script writer (an error naming what to build when one is missing), and a
// long script written into the bench's own folder.

import { execFileSync } from 'node:child_process';
import { existsSync } from 'node:fs';
import { join } from 'node:path';

export function benchTools(build) {
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

export function writeScript(writer, work, pageCount) {
  const pdf = join(work, `bench-${pageCount}.pdf`);
  execFileSync(writer, [String(pageCount), pdf], { stdio: 'inherit' });
  return pdf;
}
