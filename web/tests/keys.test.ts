import { describe, expect, it } from 'vitest';
import { keyAction, type KeyInput } from '../src/state/keys';

const body = { tagName: 'BODY' };
const button = { tagName: 'BUTTON' };
const checkbox = { tagName: 'INPUT', type: 'checkbox' };
const textInput = { tagName: 'INPUT', type: 'text' };
const untyped = { tagName: 'INPUT' };
const readOnly = { tagName: 'INPUT', type: 'text', readOnly: true };
const textarea = { tagName: 'TEXTAREA' };
const editable = { tagName: 'DIV', isContentEditable: true };
// A control reached with Tab shows its focus ring; one clicked with the pointer does not.
const ring = (el: object, shown = true) => ({ ...el, matches: (s: string) => shown && s === ':focus-visible', getAttribute: () => null });
const tabbedButton = ring(button);
const clickedButton = ring(button, false);
const tabbedBox = ring(checkbox);
const tabbedDisabled = ring({ ...button, disabled: true });
const tabbedRoleButton = { ...ring({ tagName: 'DIV' }), getAttribute: (n: string) => (n === 'role' ? 'button' : null) };
const tabbedPanel = ring({ tagName: 'DIV' });

function press(key: string, target: unknown, mods: Partial<KeyInput> = {}): KeyInput {
  return { key, target, ctrlKey: false, shiftKey: false, altKey: false, metaKey: false, repeat: false, ...mods };
}

describe('keys reach GO and BACK only outside editable fields', () => {
  it.each([
    ['Enter', body, {}, 'go'],
    [' ', body, {}, 'go'],
    [' ', button, {}, 'go'],
    ['Enter', checkbox, {}, 'go'],
    [' ', tabbedButton, {}, null],
    [' ', tabbedBox, {}, null],
    [' ', tabbedRoleButton, {}, null],
    [' ', clickedButton, {}, 'go'],
    [' ', tabbedDisabled, {}, 'go'],
    [' ', tabbedPanel, {}, 'go'],
    ['Enter', tabbedButton, {}, 'go'],
    ['Backspace', tabbedBox, {}, 'back'],
    ['Backspace', body, {}, 'back'],
    ['Enter', body, { repeat: true }, null],
    ['Backspace', body, { repeat: true }, null],
    ['Enter', textInput, {}, null],
    [' ', untyped, {}, null],
    ['Backspace', textarea, {}, null],
    [' ', editable, {}, null],
    ['Enter', readOnly, {}, 'go'],
    ['Escape', body, {}, 'escape'],
    ['Escape', textInput, {}, null],
    ['Enter', body, { ctrlKey: true }, null],
    [' ', body, { shiftKey: true }, null],
    ['R', body, { ctrlKey: true, shiftKey: true }, 'reset'],
    ['r', body, { ctrlKey: true }, null],
    ['PageDown', body, {}, 'nextPage'],
    ['ArrowLeft', body, {}, 'prevPage'],
    ['2', body, { ctrlKey: true }, 'twoPages'],
    ['+', body, { ctrlKey: true, shiftKey: true }, 'zoomIn'],
    ['0', body, { ctrlKey: true }, 'zoomFit'],
    ['3', body, { ctrlKey: true }, 'fitWidth'],
    ['+', body, { ctrlKey: true, altKey: true, shiftKey: true }, 'textLarger'],
    ['=', body, { ctrlKey: true, altKey: true }, 'textLarger'],
    ['-', body, { ctrlKey: true, altKey: true }, 'textSmaller'],
    ['0', body, { ctrlKey: true, altKey: true }, 'maxText'],
    ['e', body, { ctrlKey: true }, 'cueMode'],
    ['E', body, { ctrlKey: true, shiftKey: true }, 'exportMarked'],
    ['x', body, {}, null],
  ] as [string, unknown, Partial<KeyInput>, string | null][])('%j on %j with %j', (key, target, mods, action) => {
    expect(keyAction(press(key, target, mods))).toBe(action);
  });

  it('treats a missing target as outside any field', () => {
    expect(keyAction(press('Enter', null))).toBe('go');
  });
});

describe('standby, selection and nudge keys route by mode and never from a field', () => {
  const none = { cueMode: false, selection: false };
  const mode = { cueMode: true, selection: false };
  const picked = { cueMode: true, selection: true };
  it.each([
    [']', body, {}, none, 'nextCue'],
    ['[', body, {}, none, 'prevCue'],
    [']', button, {}, picked, 'nextCue'],
    // Some layouts need Shift for the brackets.
    ['[', body, { shiftKey: true }, none, 'prevCue'],
    [']', body, { altKey: true }, none, 'nextCue'],
    [']', body, { repeat: true }, none, null],
    [']', body, { ctrlKey: true }, none, null],
    // A field keeps every key, checked before any mode: one row per kind of key is enough.
    [']', textInput, {}, none, null],
    ['.', body, {}, none, null],
    ['.', body, {}, mode, 'selectNext'],
    [',', body, {}, mode, 'selectPrev'],
    [',', body, { ctrlKey: true }, mode, null],
    ['ArrowLeft', body, { altKey: true }, mode, null],
    ['ArrowLeft', body, { altKey: true }, picked, 'nudgeLeft'],
    ['ArrowDown', body, { altKey: true, shiftKey: true }, picked, 'nudgeDownFar'],
    ['ArrowUp', body, { altKey: true }, picked, 'nudgeUp'],
    ['ArrowRight', body, { altKey: true, shiftKey: true }, picked, 'nudgeRightFar'],
    // Without Alt the arrows still turn pages, selection or not.
    ['ArrowRight', body, {}, picked, 'nextPage'],
    ['Delete', body, {}, picked, 'deleteCue'],
    ['Delete', body, {}, mode, null],
    ['Delete', textInput, {}, picked, null],
    ['F2', body, {}, picked, 'editLabel'],
    ['F2', body, {}, none, null],
    ['Enter', body, { ctrlKey: true }, picked, 'editLabel'],
    // Return is GO in Cue Mode with a selection too.
    ['Enter', body, {}, picked, 'go'],
    ['Backspace', body, {}, picked, 'back'],
    ['g', body, { ctrlKey: true }, none, 'gotoPage'],
  ] as [string, unknown, Partial<KeyInput>, { cueMode: boolean; selection: boolean }, string | null][])(
    '%j on %j with %j in %j',
    (key, target, mods, m, action) => {
      expect(keyAction(press(key, target, mods), m)).toBe(action);
    },
  );
});
