import type { Plugin } from 'vite';
import { viteSingleFile } from 'vite-plugin-singlefile';
import { defineConfig } from 'vitest/config';

// The app looks for index_inlined.html; Vite names its output after the input.
function outputName(name: string): Plugin {
  return {
    name: 'tallowmark-output-name',
    enforce: 'post',
    generateBundle(_options, bundle) {
      const html = bundle['index.html'];
      if (!html) return;
      delete bundle['index.html'];
      html.fileName = name;
      bundle[name] = html;
    },
  };
}

// One self-contained page: the app loads it from a file URL and the page may
// fetch nothing, so every script and style is inlined.
// TALLOWMARK_PAGE_OUT names the output folder (the build tree's resources).
export default defineConfig({
  base: './',
  esbuild: { jsx: 'automatic', jsxImportSource: 'preact' },
  plugins: [viteSingleFile({ removeViteModuleLoader: true }), outputName('index_inlined.html')],
  build: {
    outDir: process.env.TALLOWMARK_PAGE_OUT || 'dist',
    emptyOutDir: false,
    // WebKitGTK 2.50 and Chromium both take ES2020.
    target: 'es2020',
    modulePreload: false,
    reportCompressedSize: false,
  },
  test: {
    include: ['tests/**/*.test.{ts,tsx}'],
    environment: 'node',
  },
});
