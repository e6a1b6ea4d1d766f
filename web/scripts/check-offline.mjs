// Fails when the built page could fetch anything: an http(s) URL other than
// the XML namespace names the renderer carries, or an external script, style
// or font reference. Usage: node check-offline.mjs index_inlined.html
import { readFileSync } from 'node:fs';

const file = process.argv[2];
if (!file) {
  console.error('usage: check-offline.mjs FILE');
  process.exit(2);
}
const text = readFileSync(file, 'utf8');
// Namespace names are identifiers, never fetched.
const namespaces = new Set([
  'http://www.w3.org/1999/xhtml',
  'http://www.w3.org/2000/svg',
  'http://www.w3.org/1998/Math/MathML',
  'http://www.w3.org/1999/xlink',
  'http://www.w3.org/XML/1998/namespace',
  'http://www.w3.org/2000/xmlns/',
]);
const problems = [];
for (const m of text.matchAll(/https?:\/\/[^\s"'`)<>]+/g)) if (!namespaces.has(m[0])) problems.push(m[0]);
for (const m of text.matchAll(/<(script|link|img|iframe)\b[^>]*\b(src|href)\s*=\s*["']?([^"'\s>]+)/gi))
  if (!m[3].startsWith('data:')) problems.push(`${m[1]} ${m[2]}=${m[3]}`);
for (const m of text.matchAll(/@import\s+[^;]+;|url\(\s*["']?(?!data:)[^)"']+/g)) problems.push(m[0]);
if (problems.length > 0) {
  console.error(`${file} would load from outside:\n  ${[...new Set(problems)].join('\n  ')}`);
  process.exit(1);
}
