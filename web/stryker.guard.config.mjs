// A fixed, shorter mutation run (twenty minutes or so at two runners on a
// shared machine): pure state modules whose tests get reworked often. Run it
// before and after changing those tests (`npm run mutate:guard`); the score
// must not drop. Static mutants (module-level constants) run every test each;
// they are left out so the run stays short.
import base from './stryker.config.mjs';

/** @type {import('@stryker-mutator/api/core').PartialStrykerOptions} */
export default {
  ...base,
  mutate: [
    'src/state/page_images.ts',
    'src/state/run_sync.ts',
    'src/state/cues.ts',
    'src/state/files.ts',
  ],
  ignoreStatic: true,
  jsonReporter: { fileName: 'reports/mutation/guard.json' },
};
