// The page's store against the real core through the test host (CTest
// page_run_equality); kept apart from the unit tests, which need no core.
import { defineConfig } from 'vitest/config';

export default defineConfig({
  esbuild: { jsx: 'automatic', jsxImportSource: 'preact' },
  test: { include: ['host_tests/**/*.test.ts'], environment: 'node' },
});
