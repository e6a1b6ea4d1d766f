// The Share to Screens sheet: sharing off, on (the QR code to scan, the
// addresses, the screens following), or on without a server (why). It changes
// nothing of the show: Return stays GO, Escape or Close closes it and the
// focus goes back where it was.

import { useSignal } from '@preact/signals';
import { useEffect, useRef } from 'preact/hooks';
import type { ShareStatus } from '../bridge/types';
import { notListeningText, portHintText, qrDataURL, screensText } from '../state/share';
import { useApp } from './context';
import '../share.css';

// A click leaves the focus where it was, so Space stays GO.
const keepFocus = (e: MouseEvent) => e.preventDefault();

export const introText = 'Let phones, tablets and laptops on this network follow the show: the standby cue large, ' +
  'the next cue and the script. They cannot change anything.';

// Selects the address, for copying by hand where the clipboard is refused.
function selectText(el: HTMLElement | null): void {
  const selection = globalThis.getSelection?.();
  if (!el || !selection) return;
  const range = document.createRange();
  range.selectNodeContents(el);
  selection.removeAllRanges();
  selection.addRange(range);
}

function Address({ address }: { address: string }) {
  const text = useRef<HTMLElement>(null);
  const note = useSignal('');
  // A note about an earlier address does not stay under a new one.
  useEffect(() => void (note.value = ''), [address]);
  const copy = () => {
    const byHand = () => {
      selectText(text.current);
      note.value = 'Selected: Ctrl+C copies it';
    };
    const clipboard = (globalThis.navigator as Navigator | undefined)?.clipboard;
    if (!clipboard?.writeText) return byHand();
    clipboard.writeText(address).then(() => void (note.value = 'Copied'), byHand);
  };
  return (
    <div class="share-address-row">
      <code ref={text} class="share-address">{address}</code>
      <button type="button" onMouseDown={keepFocus} onClick={copy}>Copy</button>
      <span class="share-copy-note" role="status">{note.value}</span>
    </div>
  );
}

function Sharing({ s }: { s: ShareStatus }) {
  const { share } = useApp();
  const qr = qrDataURL(s.qr);
  const [first, ...others] = s.addresses;
  return (
    <>
      <div class="share-code">
        {qr
          ? <img class="share-qr" src={qr} width={220} height={220} alt={`QR code of ${first ?? 'the address'}`} />
          : <p class="status-line">No QR code: type the address instead.</p>}
        <div class="share-where">
          {first ? <Address address={first} /> : <p class="status-line">No network address found.</p>}
          {others.length > 0 && (
            <section class="share-others" aria-label="Other networks">
              <h3>Other networks</h3>
              <ul>{others.map((a) => <li key={a}><code>{a}</code></li>)}</ul>
            </section>
          )}
          <p class="share-screens" aria-live="polite">{screensText(s.screens)}</p>
        </div>
      </div>
      <label class="share-pin">
        <input type="checkbox" checked={s.pinned} disabled={share.busy.value}
          onChange={(e) => share.pin((e.currentTarget as HTMLInputElement).checked)} />
        Keep this address after a restart
      </label>
    </>
  );
}

export function ShareSheet() {
  const { share, sheets } = useApp();
  const sheet = useRef<HTMLDivElement>(null);
  // The sheet takes the focus so Tab walks its controls; Escape is the page's.
  useEffect(() => sheet.current?.focus({ preventScroll: true }), []);
  const s = share.status.value;
  const busy = share.busy.value;
  const error = share.error.value;
  return (
    <div ref={sheet} class="page-sheet share-sheet" role="dialog" aria-label="Share to screens" tabIndex={-1}>
      <div class="page-sheet-head">
        <h2>Share to Screens</h2>
        <button type="button" onMouseDown={keepFocus} onClick={() => sheets.closePageSheet()}>Close</button>
      </div>
      {!s && !error && <p class="status-line">Asking…</p>}
      {s && !s.sharing && <p class="share-intro">{introText}</p>}
      {s?.sharing && s.listening && <Sharing s={s} />}
      {s?.sharing && !s.listening && (
        <div class="share-failed">
          <p class="share-error" role="alert">{notListeningText(s)}</p>
          <p class="status-line">{portHintText}</p>
        </div>
      )}
      {error && <p class="share-error" role="status">{error}</p>}
      {s && (
        <div class="share-buttons">
          {!s.sharing && (
            <button type="button" class="primary" disabled={busy} onMouseDown={keepFocus} onClick={() => share.setSharing(true)}>
              Start Sharing
            </button>
          )}
          {s.sharing && !s.listening && (
            <button type="button" disabled={busy} onMouseDown={keepFocus} onClick={() => share.setSharing(true)}>Try Again</button>
          )}
          {s.sharing && (
            <button type="button" class="danger" disabled={busy} onMouseDown={keepFocus}
              onClick={() => share.setSharing(false)}>
              Stop Sharing
            </button>
          )}
        </div>
      )}
    </div>
  );
}
