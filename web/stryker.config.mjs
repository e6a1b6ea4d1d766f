// Mutation testing of the page's code: a developer tool, run by hand with
// `npm run mutate`, never part of the build or `make test`.
/** @type {import('@stryker-mutator/api/core').PartialStrykerOptions} */
export default {
  testRunner: 'vitest',
  vitest: { configFile: 'vite.config.ts' },
  // The behaviour lives in the .ts files (state rules, bridge, export); the
  // .tsx views would take the run from under an hour to many. Folder globs,
  // so files that move between folders stay mutated.
  mutate: ['src/**/*.ts'],
  coverageAnalysis: 'perTest',
  // The machine is shared; two runners at most.
  concurrency: 2,
  reporters: ['clear-text', 'progress', 'json'],
  jsonReporter: { fileName: 'reports/mutation/mutation.json' },
  tempDirName: '.stryker-tmp',
};
