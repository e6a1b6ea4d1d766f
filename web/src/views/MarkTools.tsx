import { useEffect } from 'preact/hooks';
import { colorsOf, hexColorNames, memoColorNames, shownColor, storedColor, tools, type Tool } from '../state/mark_shapes';
import type { Marks } from '../actions/marks';
import { shortText } from '../state/shown_text';
import { useApp } from './context';

// Where the operator reads (a third down the script view, as the view
// follows standby): the page there and the fraction down its shown height.
function readingPlaceOnScreen(): { page: number; g: number } | null {
  const scroller = document.querySelector<HTMLElement>('.script');
  if (!scroller) return null;
  const line = scroller.getBoundingClientRect().top + scroller.clientHeight / 3;
  let nearest: { page: number; g: number; d: number } | null = null;
  for (const el of document.querySelectorAll<HTMLElement>('.script .page[data-page]')) {
    const r = el.getBoundingClientRect();
    if (r.height <= 0) continue;
    const page = Number(el.dataset.page);
    const g = Math.min(Math.max((line - r.top) / r.height, 0), 1);
    const d = line < r.top ? r.top - line : line > r.bottom ? line - r.bottom : 0;
    if (!nearest || d < nearest.d) nearest = { page, g, d };
  }
  return nearest && { page: nearest.page, g: nearest.g };
}

// What a screen reader hears as the selection changes: the start of each text.
function selectionWords(sel: ReturnType<Marks['selected']['peek']>): string {
  const short = (text: string) => shortText(text, 300);
  if (!sel) return '';
  if (sel.kind === 'memo') return `Selected memo${sel.rec.text ? `: ${short(sel.rec.text)}` : ', empty'}`;
  if (sel.kind === 'flag') return `Selected flag${sel.rec.role ? ` ${short(sel.rec.role)}` : ''}${sel.rec.text ? `: ${short(sel.rec.text)}` : ''}`;
  const first = sel.recs[0];
  const lines = sel.recs.length === 1 ? 'one line' : `${sel.recs.length} lines`;
  const words = short(sel.recs.map((r) => short(r.text)).filter(Boolean).join(' '));
  return `Selected ${first.kind === 'region' ? 'region' : `${first.kind || 'highlight'} over ${lines}`}${words ? `: ${words}` : ''}`;
}

const hints: Record<Tool, string> = Object.fromEntries(tools.map((t) => [t.tool, t.hint])) as Record<Tool, string>;

// The Marks strip over the script in Cue Mode: one tool at a time (1-6, the
// same key or Escape puts it down), the colours of the tool or of the selection.
export function MarkTools() {
  const { marks: m } = useApp();
  useEffect(() => {
    m.setReadingPlace(readingPlaceOnScreen);
    return () => m.setReadingPlace(() => null);
  }, []);
  const tool = m.tool.value;
  const kind = m.colorKind.value;
  const colours = kind ? colorsOf(kind) : undefined;
  const sel = m.selected.value;
  const current = !kind ? '' : sel
    ? (sel.kind === 'marks' ? sel.recs[0].color : sel.rec.color)
    : kind === 'region' || kind === 'flag' || kind === 'memo' ? m.colors.value[kind] : '';
  const currentShown = kind ? shownColor(kind, storedColor(kind, current)) : '';
  const names = kind === 'memo' ? memoColorNames : hexColorNames;
  const hint = sel
    ? 'Delete removes it · C colour · F2 text · Escape lets go'
    : tool
      ? `${hints[tool]} · Escape puts the tool down`
      : 'Pointer places cues · 1-6 pick a tool';
  return (
    <div class="mark-tools" role="toolbar" aria-label="Marks">
      {tools.map((t) => (
        <button
          type="button"
          key={t.tool}
          class={`mark-tool tool-${t.tool}`}
          aria-pressed={tool === t.tool}
          aria-keyshortcuts={t.key}
          title={`${t.label} (${t.key}): ${t.hint}`}
          onMouseDown={(e) => e.preventDefault()}
          onClick={() => m.toggleTool(t.tool)}
        >
          <span class="mark-tool-key" aria-hidden="true">{t.key}</span>
          {t.label}
        </button>
      ))}
      {kind && colours && (
        <div class="mark-swatches" role="group" aria-label="Colour">
          {colours.map((c) => {
            const shown = shownColor(kind, storedColor(kind, c));
            return (
              <button
                type="button"
                key={c || 'default'}
                class="mark-swatch"
                aria-label={names[c] ?? c}
                aria-pressed={shown === currentShown}
                style={{ '--swatch': shown }}
                onMouseDown={(e) => e.preventDefault()}
                onClick={() => m.chooseColor(c)}
              />
            );
          })}
        </div>
      )}
      <span class="mark-tools-hint">{hint}</span>
      <span class="sr-only" aria-live="polite" data-testid="mark-selection">{selectionWords(sel)}</span>
    </div>
  );
}
