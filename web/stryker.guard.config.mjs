// A fixed, shorter mutation run (about twenty minutes at two runners): the
// pure state modules whose tests get reworked most often. Run it before and
// after changing those tests (`npm run mutate:guard`); the score must not drop.
// Static mutants (module-level constants) run every test each and took half
// the time; they are left out so the run stays short.
import base from './stryker.config.mjs';

/** @type {import('@stryker-mutator/api/core').PartialStrykerOptions} */
export default {
  ...base,
  mutate: [
    'src/state/inserts.ts',
    'src/state/page_images.ts',
    'src/state/run_sync.ts',
    'src/state/cues.ts',
    'src/state/files.ts',
  ],
  ignoreStatic: true,
  jsonReporter: { fileName: 'reports/mutation/guard.json' },
};
