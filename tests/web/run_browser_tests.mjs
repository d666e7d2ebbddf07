// Runs the browser tests (wall.test.mjs) when their one dependency is
// installed (`npm ci` here); otherwise exits 77, which CTest reports as
// skipped.
import { spawnSync } from 'node:child_process';
import { existsSync } from 'node:fs';
import { dirname, join } from 'node:path';
import { fileURLToPath } from 'node:url';

const here = dirname(fileURLToPath(import.meta.url));
if (!existsSync(join(here, 'node_modules', 'playwright-core'))) {
  console.log(`skipped: run "npm ci" in ${here} to install playwright-core`);
  process.exit(77);
}
for (const variable of ['QUON_WEB_FIXTURE', 'QUON_CHROMIUM']) {
  if (!process.env[variable]) {
    console.error(`${variable} is not set`);
    process.exit(2);
  }
}
const run = spawnSync(process.execPath, ['--test', '--test-concurrency=1', join(here, 'wall.test.mjs')], {
  cwd: here,
  stdio: 'inherit',
});
process.exit(run.status ?? 1);
