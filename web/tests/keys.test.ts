// The key rule: which key is which action in which mode of the page. A text
// field keeps every key, checked before any mode.
import { expect, it } from 'vitest';
import { keyAction, type KeyInput, type KeyMode } from '../src/state/keys';
import { body, press, textInput } from './fake_bridge';

const button = { tagName: 'BUTTON' };
const checkbox = { tagName: 'INPUT', type: 'checkbox' };
// A control reached with Tab shows its focus ring; one clicked with the pointer does not.
const ring = (el: object, shown = true) => ({ ...el, matches: (s: string) => shown && s === ':focus-visible', getAttribute: () => null });
const tabbedRoleButton = { ...ring({ tagName: 'DIV' }), getAttribute: (n: string) => (n === 'role' ? 'button' : null) };

const none: KeyMode = { cueMode: false, selection: false };
const cue: KeyMode = { cueMode: true, selection: false };
const picked: KeyMode = { cueMode: true, selection: true };
const [cursor, tools, crop, insertPicked]: KeyMode[] =
  [{ ...cue, lineCursor: true }, { ...cue, markTools: true, markSelection: false }, { ...none, crop: true }, { ...cue, insertSelection: true }];
const markPicked: KeyMode = { ...tools, markSelection: true };

const [ctrl, shift, alt, repeat] = [{ ctrlKey: true }, { shiftKey: true }, { altKey: true }, { repeat: true }];
const [ctrlShift, ctrlAlt] = [{ ...ctrl, ...shift }, { ...ctrl, ...alt }];

it.each([
  // GO and BACK outside editable fields only; a button the keys reached keeps Space.
  ['Enter', {}, body, undefined, 'go'], [' ', {}, body, undefined, 'go'], [' ', {}, button, undefined, 'go'],
  ['Enter', {}, checkbox, undefined, 'go'], [' ', {}, ring(button), undefined, null], [' ', {}, ring(checkbox), undefined, null],
  [' ', {}, tabbedRoleButton, undefined, null], [' ', {}, ring(button, false), undefined, 'go'],
  [' ', {}, ring({ ...button, disabled: true }), undefined, 'go'], [' ', {}, ring({ tagName: 'DIV' }), undefined, 'go'],
  ['Enter', {}, ring(button), undefined, 'go'], ['Backspace', {}, ring(checkbox), undefined, 'back'],
  ['Backspace', {}, body, undefined, 'back'], ['Enter', {}, null, undefined, 'go'], ['Enter', repeat, body, undefined, null],
  ['Backspace', repeat, body, undefined, null], ['Enter', {}, textInput, undefined, null],
  [' ', {}, { tagName: 'INPUT' }, undefined, null], ['Backspace', {}, { tagName: 'TEXTAREA' }, undefined, null],
  [' ', {}, { tagName: 'DIV', isContentEditable: true }, undefined, null],
  ['Enter', {}, { ...textInput, readOnly: true }, undefined, 'go'], ['Escape', {}, body, undefined, 'escape'],
  ['Escape', {}, textInput, undefined, null], ['Enter', ctrl, body, undefined, null], [' ', shift, body, undefined, null],
  // RESET by its chord, a held chord's repeats not.
  ['R', ctrlShift, body, undefined, 'reset'], ['R', { ...ctrlShift, ...repeat }, body, undefined, null],
  ['r', ctrl, body, undefined, null],
  // Pages, sizes, modes.
  ['PageDown', {}, body, undefined, 'nextPage'], ['ArrowLeft', {}, body, undefined, 'prevPage'], ['2', ctrl, body, undefined, 'twoPages'],
  ['+', ctrlShift, body, undefined, 'zoomIn'], ['0', ctrl, body, undefined, 'zoomFit'], ['3', ctrl, body, undefined, 'fitWidth'],
  ['+', { ...ctrlAlt, ...shift }, body, undefined, 'textLarger'], ['=', ctrlAlt, body, undefined, 'textLarger'],
  ['-', ctrlAlt, body, undefined, 'textSmaller'], ['0', ctrlAlt, body, undefined, 'maxText'], ['e', ctrl, body, undefined, 'cueMode'],
  ['E', ctrlShift, body, undefined, 'exportMarked'], ['e', ctrlShift, body, undefined, 'exportMarked'],
  ['E', ctrlShift, textInput, undefined, null], ['g', ctrl, body, none, 'gotoPage'], ['x', {}, body, undefined, null],
  // Standby steps anywhere; the selection's keys in Cue Mode with a cue selected.
  [']', {}, body, none, 'nextCue'], ['[', {}, body, none, 'prevCue'], [']', {}, button, picked, 'nextCue'],
  ['[', shift, body, none, 'prevCue'], [']', alt, body, none, 'nextCue'], [']', repeat, body, none, null], [']', ctrl, body, none, null],
  [']', {}, textInput, none, null], ['.', {}, body, none, null], ['.', {}, body, cue, 'selectNext'], [',', {}, body, cue, 'selectPrev'],
  [',', ctrl, body, cue, null], ['ArrowLeft', alt, body, cue, null], ['ArrowLeft', alt, body, picked, 'nudgeLeft'],
  ['ArrowDown', { ...alt, ...shift }, body, picked, 'nudgeDownFar'], ['ArrowUp', alt, body, picked, 'nudgeUp'],
  ['ArrowRight', { ...alt, ...shift }, body, picked, 'nudgeRightFar'], ['ArrowRight', {}, body, picked, 'nextPage'],
  ['Delete', {}, body, picked, 'deleteCue'], ['Delete', {}, body, cue, null], ['Delete', {}, textInput, picked, null],
  ['F2', {}, body, picked, 'editLabel'], ['F2', {}, body, none, null], ['Enter', ctrl, body, picked, 'editLabel'],
  ['Enter', {}, body, picked, 'go'], ['Backspace', {}, body, picked, 'back'],
  // The line cursor: n or Insert shows or places it; while it shows the arrows walk it.
  ['n', {}, body, cue, 'lineCursor'], ['Insert', {}, body, cue, 'lineCursor'], ['n', {}, body, cursor, 'lineCursor'],
  ['n', {}, body, none, null], ['Insert', {}, body, none, null], ['n', {}, textInput, cue, null], ['n', ctrl, body, cue, null],
  ['N', shift, body, cue, null], ['n', repeat, body, cursor, null], ['ArrowDown', {}, body, cursor, 'cursorDown'],
  ['ArrowUp', {}, body, cursor, 'cursorUp'], ['j', {}, body, cursor, 'cursorDown'], ['k', {}, body, cursor, 'cursorUp'],
  ['Home', {}, body, cursor, 'cursorHome'], ['End', {}, body, cursor, 'cursorEnd'], ['ArrowDown', {}, body, cue, null],
  ['j', {}, body, cue, null], ['ArrowDown', {}, textInput, cursor, null],
  ['ArrowDown', alt, body, { ...picked, lineCursor: true }, 'nudgeDown'], ['ArrowRight', {}, body, cursor, 'nextPage'],
  ['Enter', {}, body, cursor, 'go'], [' ', {}, body, cursor, 'go'], ['Escape', {}, body, cursor, 'escape'],
  // Mark tools 1-6; a selected mark: Delete, C for its colour, F2 for its text.
  ['1', {}, body, tools, 'tool1'], ['6', {}, body, tools, 'tool6'], ['7', {}, body, tools, null], ['1', repeat, body, tools, null],
  ['1', ctrl, body, tools, 'onePage'], ['1', {}, body, none, null], ['Delete', {}, body, markPicked, 'deleteMark'],
  ['Backspace', {}, body, markPicked, 'back'], ['Delete', repeat, body, markPicked, null], ['c', {}, body, markPicked, 'markColor'],
  ['F2', {}, body, markPicked, 'editMark'], ['Enter', {}, body, markPicked, 'go'],
  ['ArrowDown', { ...alt, ...shift }, body, markPicked, 'nudgeDownFar'], ['ArrowLeft', alt, body, tools, null],
  ['ArrowLeft', {}, body, markPicked, 'prevPage'],
  // A selected inserted line.
  ['F2', {}, null, insertPicked, 'editInsert'], ['Delete', {}, null, insertPicked, 'deleteInsert'],
  ['i', {}, null, insertPicked, 'insertLine'], ['Backspace', {}, null, insertPicked, 'back'],
  ['I', shift, null, insertPicked, 'selectInsert'],
  // Files and Crop mode: Return applies the frame and the arrows work it; Space stays GO.
  ['S', ctrlShift, null, none, 'saveAs'], ['c', ctrlShift, null, none, 'crop'], ['N', ctrlShift, null, none, 'dropPageNumbers'], ['Enter', {}, null, crop, 'cropApply'],
  [' ', {}, null, crop, 'go'], ['ArrowLeft', {}, null, crop, 'cropLeft'], ['ArrowDown', shift, null, crop, 'cropDownSize'],
  ['Enter', {}, textInput, crop, null],
] as [string, Partial<KeyInput>, unknown, KeyMode | undefined, string | null][])('the key rule: %j %j on %j in %j: %s', (key, mods, target, mode, action) => {
  expect(keyAction(press(key, mods, target), mode)).toBe(action);
});
