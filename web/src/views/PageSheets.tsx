import { useEffect, useRef } from 'preact/hooks';
import { shortcutGroups } from '../state/shortcuts';
import { useApp } from './context';
import { PageNotesSheet } from './PageNotesSheet';
import { SettingsSheet } from './SettingsSheet';
import { ShareSheet } from './ShareSheet';
import { ShowReportSheet } from './ShowReportSheet';

// The Keyboard Shortcuts sheet. It takes the focus so Escape reaches it, and
// the page's capture handler still sees Return: GO stays one key away.
export function ShortcutsSheet() {
  const { sheets } = useApp();
  const sheet = useRef<HTMLDivElement>(null);
  useEffect(() => sheet.current?.focus(), []);
  return (
    <div ref={sheet} class="page-sheet" role="dialog" aria-label="Keyboard shortcuts" tabIndex={-1}>
      <div class="page-sheet-head">
        <h2>Keyboard Shortcuts</h2>
        <button type="button" onClick={() => sheets.closePageSheet()}>Close</button>
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
  if (store.pageSheet.value === 'page') return <PageNotesSheet />;
  if (store.pageSheet.value === 'report') return <ShowReportSheet />;
  if (store.pageSheet.value === 'share') return <ShareSheet />;
  return null;
}
