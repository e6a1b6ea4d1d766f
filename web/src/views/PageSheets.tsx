import { useEffect, useRef } from 'preact/hooks';
import { parseField, settingsFields, type SettingsField } from '../state/settings_form';
import { shortcutGroups } from '../state/shortcuts';
import { useApp } from './context';

// The Keyboard Shortcuts sheet. It takes the focus so Escape reaches it, and
// the page's capture handler still sees Return: GO stays one key away.
export function ShortcutsSheet() {
  const { ctl } = useApp();
  const sheet = useRef<HTMLDivElement>(null);
  useEffect(() => sheet.current?.focus(), []);
  return (
    <div ref={sheet} class="page-sheet" role="dialog" aria-label="Keyboard shortcuts" tabIndex={-1}>
      <div class="page-sheet-head">
        <h2>Keyboard Shortcuts</h2>
        <button type="button" onClick={() => ctl.closePageSheet()}>Close</button>
      </div>
      {shortcutGroups.map((g) => (
        <section key={g.title}>
          <h3>{g.title}</h3>
          <table>
            <tbody>
              {g.rows.map(([keys, does]) => (
                <tr key={keys}>
                  <th scope="row"><kbd>{keys}</kbd></th>
                  <td>{does}</td>
                </tr>
              ))}
            </tbody>
          </table>
        </section>
      ))}
    </div>
  );
}

export function PageSheet() {
  const { store } = useApp();
  if (store.confidence) return null;
  if (store.pageSheet.value === 'shortcuts') return <ShortcutsSheet />;
  if (store.pageSheet.value === 'settings') return <SettingsSheet />;
  return null;
}

// The Settings sheet. A field is sent when it changes (Return in a number
// field commits it and stops there, never reaching GO); the form then shows
// what the core answered, or the refusal quietly in place.
export function SettingsSheet() {
  const { store, ctl } = useApp();
  const sheet = useRef<HTMLFormElement>(null);
  useEffect(() => sheet.current?.querySelector<HTMLElement>('select, input')?.focus(), []);
  const s = store.settings.value;
  const commit = (field: SettingsField, target: HTMLInputElement | HTMLSelectElement) => {
    const raw = target instanceof HTMLInputElement && target.type === 'checkbox' ? target.checked : target.value;
    ctl.changeSetting(parseField(field, raw));
  };
  const onKey = (e: KeyboardEvent) => {
    if (e.key === 'Escape') {
      e.preventDefault();
      e.stopPropagation();
      ctl.closePageSheet();
    } else if (e.key === 'Enter' && e.target instanceof HTMLInputElement && e.target.type === 'number') {
      e.preventDefault();
      e.stopPropagation();
      const field = settingsFields.find((f) => f.key === (e.target as HTMLInputElement).name);
      if (field) commit(field, e.target);
    }
  };
  return (
    <form ref={sheet} class="page-sheet" role="dialog" aria-label="Settings" onKeyDown={onKey} onSubmit={(e) => e.preventDefault()}>
      <div class="page-sheet-head">
        <h2>Settings</h2>
        <button type="button" onClick={() => ctl.closePageSheet()}>Close</button>
      </div>
      {!s && <p class="sheet-error">The settings have not arrived.</p>}
      {s &&
        settingsFields.map((f) => {
          const value = s[f.key];
          // Keyed by the answer, so a refused or clamped value shows what the core kept.
          const k = `${f.key}:${String(value)}`;
          if (f.kind === 'bool')
            return (
              <label key={k}>
                {f.label}
                <input type="checkbox" name={f.key} defaultChecked={value === true} onChange={(e) => commit(f, e.currentTarget)} />
              </label>
            );
          if (f.kind === 'choice')
            return (
              <label key={k}>
                {f.label}
                <select name={f.key} defaultValue={String(value)} onChange={(e) => commit(f, e.currentTarget)}>
                  {f.choices.map(([v, text]) => <option key={v} value={v}>{text}</option>)}
                </select>
              </label>
            );
          return (
            <label key={k}>
              {f.label}
              <input type="number" name={f.key} min={f.min} max={f.max} step={1} defaultValue={String(value ?? '')}
                onChange={(e) => commit(f, e.currentTarget)} />
            </label>
          );
        })}
      {store.settingsError.value && <p class="sheet-error" role="status">{store.settingsError.value}</p>}
    </form>
  );
}
