// Runs one file of browser tests when their one dependency is installed
// (`npm ci` here); otherwise exits 77, which CTest reports as skipped.
//
//     node run_browser_tests.mjs TEST_FILE VARIABLE...
//
// Each VARIABLE names an environment variable the tests need.
import { spawnSync } from 'node:child_process';
import { existsSync } from 'node:fs';
import { dirname, join } from 'node:path';
import { fileURLToPath } from 'node:url';

const here = dirname(fileURLToPath(import.meta.url));
const [testFile, ...variables] = process.argv.slice(2);
if (!testFile) {
  console.error('usage: run_browser_tests.mjs TEST_FILE VARIABLE...');
  process.exit(2);
}
if (!existsSync(join(here, 'node_modules', 'playwright-core'))) {
  console.log(`skipped: run "npm ci" in ${here} to install playwright-core`);
  process.exit(77);
}
for (const variable of variables) {
  if (!process.env[variable]) {
    console.error(`${variable} is not set`);
    process.exit(2);
  }
}
const run = spawnSync(process.execPath, ['--test', '--test-concurrency=1', join(here, testFile)], {
  cwd: here,
  stdio: 'inherit',
});
process.exit(run.status ?? 1);
