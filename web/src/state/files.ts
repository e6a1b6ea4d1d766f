// The script's files by name: versions of one script, its marks file, and
// whether it holds any marks yet. What the file commands do is
// actions/file_tools.ts.

import type { ScriptState } from '../bridge/types';

// A trailing version part of a file name: " v2", "_rev3", "-draft4", " (1)",
// a date such as "2026-12-01" or "20261201". Taken off one at a time, so
// "Show v2 (1)" and "Show_2026-12-01_rev2" are both "Show".
const versionParts = [
  /\s*\(\d+\)$/,
  /[\s_.-]+(?:v|ver|version|rev|revision|draft|take)[\s_.-]?\d+(?:\.\d+)*$/i,
  /[\s_.-]+\d{4}[-_.]?\d{2}[-_.]?\d{2}$/,
];

// The file name without its folder and extension.
export function fileStem(path: string): string {
  const name = path.slice(path.lastIndexOf('/') + 1);
  const dot = name.lastIndexOf('.');
  return dot > 0 ? name.slice(0, dot) : name;
}

// What two versions of one script have in common: the name without a
// trailing version part, in one case, with runs of spaces and underscores as
// one space. A name that is all version ("v2") keeps what it has.
export function titleStem(path: string): string {
  let stem = fileStem(path).trim();
  for (let changed = true; changed; ) {
    changed = false;
    for (const part of versionParts) {
      const shorter = stem.replace(part, '').trim();
      if (shorter && shorter !== stem) {
        stem = shorter;
        changed = true;
      }
    }
  }
  return stem.replace(/[\s_]+/g, ' ').toLowerCase();
}

// The marks file beside a script: its name with the marks extension.
export function marksPathFor(scriptPath: string): string {
  const slash = scriptPath.lastIndexOf('/');
  return `${scriptPath.slice(0, slash + 1)}${fileStem(scriptPath)}.tallowmark`;
}

// The marks file of the most recent other version of `path` among the recent
// scripts (newest first), or null.
export function earlierVersionMarks(path: string, recent: readonly string[]): string | null {
  const stem = titleStem(path);
  const other = recent.find((p) => p !== path && marksPathFor(p) !== marksPathFor(path) && titleStem(p) === stem);
  return other ? marksPathFor(other) : null;
}

// Nothing marked yet: no cues, marks, flags, memos or inserts.
export function hasNoMarks(s: ScriptState): boolean {
  return s.cues.length === 0 && s.marks.length === 0 && s.flags.length === 0 && s.memos.length === 0 &&
    s.inserts.length === 0;
}
