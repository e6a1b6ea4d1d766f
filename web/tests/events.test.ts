import { describe, expect, it, vi } from 'vitest';
import { dispatchEvent, installEventHook } from '../src/bridge/events';

describe('event dispatch', () => {
  it('runs the handler of a known event and ignores the rest', () => {
    const cueState = vi.fn();
    const handlers = { cueState };
    expect(dispatchEvent(handlers, 'cueState', { cues: [] })).toBe(true);
    expect(cueState).toHaveBeenCalledWith({ cues: [] });
    expect(dispatchEvent(handlers, 'noSuchEvent', {})).toBe(false);
    expect(dispatchEvent(handlers, 'controlLog', {})).toBe(false);
    expect(dispatchEvent(handlers, 'cueState', null)).toBe(false);
    expect(dispatchEvent(handlers, 'cueState', [1])).toBe(false);
    expect(dispatchEvent(handlers, 42, {})).toBe(false);
    // A name from the object prototype is no event.
    expect(dispatchEvent(handlers, 'toString', {})).toBe(false);
    expect(cueState).toHaveBeenCalledTimes(1);
  });

  it('keeps going after a handler throws', () => {
    const spy = vi.spyOn(console, 'error').mockImplementation(() => undefined);
    const target = {} as Window;
    const after = vi.fn();
    installEventHook(target, { menuCommand: () => { throw new Error('boom'); }, dimCommand: after });
    expect(() => target.__tallowmarkEvent!('menuCommand', { command: 'go' })).not.toThrow();
    target.__tallowmarkEvent!('dimCommand', { dim: true });
    expect(after).toHaveBeenCalledWith({ dim: true });
    spy.mockRestore();
  });
});
