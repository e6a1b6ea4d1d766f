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

function press(key: string, target: unknown, mods: Partial<KeyInput> = {}): KeyInput {
  return { key, target, ctrlKey: false, shiftKey: false, altKey: false, metaKey: false, repeat: false, ...mods };
}

describe('keys reach GO and BACK only outside editable fields', () => {
  it.each([
    ['Enter', body, {}, 'go'],
    [' ', body, {}, 'go'],
    [' ', button, {}, 'go'],
    ['Enter', checkbox, {}, 'go'],
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
    ['PageDown', textInput, {}, null],
    ['2', body, { ctrlKey: true }, 'twoPages'],
    ['+', body, { ctrlKey: true, shiftKey: true }, 'zoomIn'],
    ['0', body, { ctrlKey: true }, 'zoomFit'],
    ['e', body, { ctrlKey: true }, 'cueMode'],
    ['E', body, { ctrlKey: true, shiftKey: true }, null],
    ['x', body, {}, null],
  ] as [string, unknown, Partial<KeyInput>, string | null][])('%j on %j with %j', (key, target, mods, action) => {
    expect(keyAction(press(key, target, mods))).toBe(action);
  });

  it('treats a missing target as outside any field', () => {
    expect(keyAction(press('Enter', null))).toBe('go');
  });
});
