// Marks, memos and flags as the operator makes them in Cue Mode: the tool in
// hand, the drag in progress, the selection, the open text fields, and the
// edits sent but not yet answered (drawn as drafts until the engine's state
// has them). Their shapes and colours are state/mark_shapes.ts.

import { computed, effect, signal } from '@preact/signals';
import type { Flag, Mark, Memo } from '../bridge/types';
import { textRectArgs } from '../state/cue_edit';
import type { KeyAction } from '../state/keys';
import type { LineRect } from '../state/line_cursor';
import {
  answerLines, colorsOf, dragRect, flatMarkGeometry, groupOf, isTextKind, markNudge, marksByPage, marksOfLines, markAt,
  movedGroup, movedRect, newMemoRect, nextColor, pointOnPage, previewOfDrag, storedColor, toolOfKey,
  type MarkGeometry, type MarkKind, type PageMarks, type Pt, type Rect, type Tool,
} from '../state/mark_shapes';
import { sameCues, type Store } from '../state/store';
import type { Bridge } from './common';

const sameRecords = (a: readonly object[], b: readonly object[]) => sameCues(a as never, b as never);

export type Selection = { kind: 'marks'; ids: string[] } | { kind: 'memo'; id: string } | { kind: 'flag'; id: string };

// A record drawn from here rather than from the engine's state: being
// dragged, or sent and not yet answered.
export type Draft = { type: 'mark'; rec: Mark } | { type: 'memo'; rec: Memo } | { type: 'flag'; rec: Flag };

export interface Edit<T> { rec: T; isNew: boolean }

// A drag of a tool on a page, in page fractions.
interface Drag { page: number; tool: Tool; from: Pt; to: Pt; generation: number }

export interface Preview { page: number; kind: MarkKind | 'memo'; rects: Rect[] }

export interface MarkDeps {
  linesOf: (page: number) => Promise<LineRect[]>;
  quiet: (error: unknown) => void;
  newID: () => string;
  // The other tools of Cue Mode (inserted lines): put down, their selection
  // dropped, when a mark tool or a mark is picked; their selection hides ours.
  clearOthers?: () => void;
  othersSelected?: () => boolean;
}

export function createMarks(store: Store, bridge: Bridge, deps: MarkDeps) {
  const tool = signal<Tool | null>(null);
  // The colour each tool gives what it makes, as stored ("" is the kind's default).
  const colors = signal<Record<'region' | 'flag' | 'memo', string>>({ region: '', flag: '', memo: '' });
  const selection = signal<Selection | null>(null);
  const preview = signal<Preview | null>(null);
  const drafts = signal<ReadonlyMap<string, Draft>>(new Map());
  const regionEdit = signal<Edit<Mark> | null>(null);
  const memoEdit = signal<Edit<Memo> | null>(null);
  const flagEdit = signal<Edit<Flag> | null>(null);

  // Every "cueState" (a GO too) brings new lists; while they hold the same
  // records the index stays the same object, so no page draws its marks again.
  let indexed: { lists: [Mark[], Memo[], Flag[]]; pages: Map<number, PageMarks> } | null = null;
  const byPage = computed(() => {
    const s = store.cueState.value;
    const lists: [Mark[], Memo[], Flag[]] = [s.marks ?? [], s.memos ?? [], s.flags ?? []];
    if (!indexed || !lists.every((l, i) => sameRecords(l, indexed!.lists[i]))) {
      indexed = { lists, pages: marksByPage(...lists) };
    }
    return indexed.pages;
  });

  // The selection as records that still exist: an undo may take them away.
  const selected = computed((): { kind: 'marks'; recs: Mark[] } | { kind: 'memo'; rec: Memo } | { kind: 'flag'; rec: Flag } | null => {
    const sel = selection.value;
    const s = store.cueState.value;
    if (!sel || deps.othersSelected?.()) return null;
    if (sel.kind === 'marks') {
      const recs = (s.marks ?? []).filter((m) => sel.ids.includes(m.id));
      return recs.length > 0 ? { kind: 'marks', recs } : null;
    }
    if (sel.kind === 'memo') {
      const rec = (s.memos ?? []).find((m) => m.id === sel.id);
      return rec ? { kind: 'memo', rec } : null;
    }
    const rec = (s.flags ?? []).find((f) => f.id === sel.id);
    return rec ? { kind: 'flag', rec } : null;
  });

  // The kind whose colours the strip offers: the selection's, else the tool's.
  const colorKind = computed((): Tool | null => {
    const sel = selected.value;
    if (sel) return sel.kind === 'marks' ? (sel.recs[0].kind as MarkKind) : sel.kind;
    return tool.value;
  });

  const editing = () => regionEdit.peek() !== null || memoEdit.peek() !== null || flagEdit.peek() !== null;

  // Text lines per page, kept as they arrive so the drag's first frame can
  // already follow the words.
  let lineGeneration = -1;
  const knownLines = new Map<number, LineRect[]>();
  const learnLines = (page: number) => {
    const generation = store.generation.peek();
    if (lineGeneration !== generation) {
      lineGeneration = generation;
      knownLines.clear();
    }
    if (knownLines.has(page)) return;
    void deps.linesOf(page).then((lines) => {
      if (lineGeneration === generation && lines.length > 0) knownLines.set(page, lines);
    });
  };

  const geometries = new Map<number, MarkGeometry>();
  let readingPlace: () => { page: number; g: number } | null = () => null;

  const putDrafts = (list: Draft[]) => {
    const next = new Map(drafts.peek());
    for (const d of list) next.set(d.rec.id, d);
    drafts.value = next;
  };
  // Only the drafts still as they were put: a newer move of the same memo stays.
  const dropDrafts = (list: Draft[]) => {
    const next = new Map(drafts.peek());
    let changed = false;
    for (const d of list) {
      if (next.get(d.rec.id) === d) {
        next.delete(d.rec.id);
        changed = true;
      }
    }
    if (changed) drafts.value = next;
  };
  // The draft shows until the native side has answered; its "cueState" comes first.
  const send = (list: Draft[], call: () => Promise<unknown>): Promise<void> => {
    putDrafts(list);
    return call().then(
      () => dropDrafts(list),
      (error: unknown) => {
        dropDrafts(list);
        deps.quiet(error);
      },
    );
  };

  const snap = () => store.settings.peek()?.cueSnapWords !== false;
  let drag: Drag | null = null;
  let asking = false;

  const resetAll = () => {
    drag = null;
    preview.value = null;
    tool.value = null;
    selection.value = null;
    regionEdit.value = null;
    memoEdit.value = null;
    flagEdit.value = null;
  };

  // Leaving Cue Mode or the script leaves the tool, the selection and any
  // open field; a cue selected takes the selection from a mark.
  let shownGeneration = store.generation.peek();
  effect(() => {
    const generation = store.generation.value;
    if (!store.cueMode.value || generation !== shownGeneration) {
      shownGeneration = generation;
      resetAll();
    }
  });
  effect(() => {
    if (store.selectedID.value) selection.value = null;
  });
  // An undo (or another desk) may take away the record whose text is open:
  // its field goes with it, or the tool keys would rest for good.
  effect(() => {
    const s = store.cueState.value;
    const gone = <T extends { id: string }>(edit: Edit<T> | null, list: readonly T[] | undefined) =>
      edit !== null && !edit.isNew && !(list ?? []).some((r) => r.id === edit.rec.id);
    if (gone(memoEdit.peek(), s.memos)) memoEdit.value = null;
    if (gone(flagEdit.peek(), s.flags)) flagEdit.value = null;
    if (gone(regionEdit.peek(), s.marks)) regionEdit.value = null;
  });

  const canEdit = () => !store.confidence && store.doc.peek() !== null;

  const m = {
    tool, colors, selection, selected, colorKind, preview, drafts, regionEdit, memoEdit, flagEdit, byPage,

    // What one page shows: the engine's records with the drafts over them.
    pageItems(page: number): PageMarks {
      const base = byPage.value.get(page) ?? { marks: [], memos: [], flags: [] };
      const ds = drafts.value;
      if (ds.size === 0) return base;
      const merge = <T extends { id: string; page: number }>(list: T[], type: Draft['type']): T[] => {
        const out = list.filter((r) => !ds.has(r.id));
        for (const d of ds.values()) if (d.type === type && d.rec.page === page) out.push(d.rec as unknown as T);
        return out;
      };
      return { marks: merge(base.marks, 'mark'), memos: merge(base.memos, 'memo'), flags: merge(base.flags, 'flag') };
    },

    noteGeometry(page: number, g: MarkGeometry): void {
      geometries.set(page, g);
    },

    geometryOf(page: number): MarkGeometry {
      return geometries.get(page) ?? flatMarkGeometry;
    },

    // Where the operator reads: a page and a fraction down its grown height.
    setReadingPlace(f: () => { page: number; g: number } | null): void {
      readingPlace = f;
    },

    readingPlace(): { page: number; y: number } {
      const at = readingPlace();
      if (!at) return { page: store.visiblePage.peek(), y: 0.3 };
      return { page: at.page, y: Math.min(Math.max(m.geometryOf(at.page).fromGrown(at.g), 0), 1) };
    },

    setTool(next: Tool | null): void {
      if (next && (!canEdit() || !store.cueMode.peek())) return;
      if (next) deps.clearOthers?.();
      drag = null;
      preview.value = null;
      tool.value = next;
    },

    // The key of the tool in hand puts it down again.
    toggleTool(next: Tool): void {
      m.setTool(tool.peek() === next ? null : next);
    },

    // --- The pointer with a tool in hand (page fractions of the ungrown page) ---

    begin(page: number, p: Pt): boolean {
      const t = tool.peek();
      if (!t || !store.cueMode.peek() || editing()) return false;
      const at = pointOnPage(p);
      drag = { page, tool: t, from: at, to: at, generation: store.generation.peek() };
      if (isTextKind(t)) learnLines(page);
      return true;
    },

    move(p: Pt): void {
      const d = drag;
      if (!d) return;
      d.to = pointOnPage(p);
      if (isTextKind(d.tool)) {
        // Drawn from the pointer at once; the snapped lines replace it when
        // the native side answers for where the pointer still is.
        preview.value = { page: d.page, kind: d.tool, rects: previewOfDrag(knownLines.get(d.page) ?? [], d.from, d.to) };
        m.askSnapped();
      } else if (d.tool === 'region' || d.tool === 'memo') {
        preview.value = { page: d.page, kind: d.tool, rects: [dragRect(d.from, d.to)] };
      }
    },

    // One question in flight; when it comes back for an older point, the
    // newest point is asked next.
    askSnapped(): void {
      const d = drag;
      if (!d || asking || !isTextKind(d.tool)) return;
      const to = d.to;
      asking = true;
      bridge.textRect(textRectArgs(d.page, d.from, to, snap())).then(
        (answer) => {
          asking = false;
          if (drag !== d) return;
          if (d.to !== to) return m.askSnapped();
          const found = answerLines(answer);
          if (found) preview.value = { page: d.page, kind: d.tool as MarkKind, rects: found.lines };
        },
        () => void (asking = false),
      );
    },

    cancelDrag(): void {
      drag = null;
      preview.value = null;
    },

    // `click`: the pointer did not travel (a click takes one word, or picks
    // the mark under it).
    async end(p: Pt, click: boolean): Promise<void> {
      const d = drag;
      if (!d) return;
      drag = null;
      d.to = pointOnPage(p);
      if (isTextKind(d.tool) || d.tool === 'region') {
        const hit = click ? markAt(store.cueState.peek().marks ?? [], d.page, d.to) : undefined;
        if (hit) {
          preview.value = null;
          return m.selectMark(hit);
        }
      }
      if (click) selection.value = null;
      if (isTextKind(d.tool)) return m.markWords(d, d.tool);
      preview.value = null;
      if (d.tool === 'region') {
        const r = dragRect(d.from, d.to);
        // A frame needs a size to be seen; a slip of the hand makes none.
        if (click || r.w < 0.01 || r.h < 0.005) return;
        regionEdit.value = {
          rec: { id: deps.newID(), kind: 'region', text: '', color: colors.peek().region, group: '', page: d.page, ...r },
          isNew: true,
        };
      } else if (d.tool === 'memo') {
        m.openNewMemo(d.page, newMemoRect(d.from, click ? null : d.to));
      } else if (d.tool === 'flag') {
        m.openNewFlag(d.page, d.from);
      }
    },

    async markWords(d: Drag, kind: MarkKind): Promise<void> {
      let answer: unknown;
      try {
        answer = await bridge.textRect(textRectArgs(d.page, d.from, d.to, snap()));
      } catch (error) {
        preview.value = null;
        return deps.quiet(error);
      }
      // The preview of a newer drag is not this one's to clear.
      if (!drag) preview.value = null;
      const found = answerLines(answer);
      if (!found || d.generation !== store.generation.peek() || !store.cueMode.peek()) return;
      const marks = marksOfLines(found, kind, d.page, '', deps.newID(), deps.newID);
      // One call, so one undo takes the whole drag back.
      await send(marks.map((rec) => ({ type: 'mark', rec })), () => bridge.upsertMarks(marks));
    },

    // --- Selection ---

    selectMark(mark: Mark): void {
      if (!store.cueMode.peek()) return;
      store.selectedID.value = '';
      deps.clearOthers?.();
      selection.value = { kind: 'marks', ids: groupOf(store.cueState.peek().marks ?? [], mark).map((x) => x.id) };
    },

    selectMemo(id: string): void {
      if (!store.cueMode.peek()) return;
      store.selectedID.value = '';
      deps.clearOthers?.();
      selection.value = { kind: 'memo', id };
    },

    selectFlag(id: string): void {
      if (!store.cueMode.peek()) return;
      store.selectedID.value = '';
      deps.clearOthers?.();
      selection.value = { kind: 'flag', id };
    },

    deselect(): void {
      selection.value = null;
    },

    deleteSelected(): void {
      const sel = selected.peek();
      if (!sel || !store.cueMode.peek()) return;
      selection.value = null;
      const done = () => undefined;
      if (sel.kind === 'memo') bridge.removeMemo(sel.rec.id).then(done, deps.quiet);
      else if (sel.kind === 'flag') bridge.removeFlag(sel.rec.id).then(done, deps.quiet);
      else if (sel.recs.length === 1) bridge.removeMark(sel.recs[0].id).then(done, deps.quiet);
      else bridge.removeMarks(sel.recs.map((r) => r.id)).then(done, deps.quiet);
    },

    // A colour from the strip: the selection takes it (one undo step), else
    // the tool keeps it for what it makes next.
    chooseColor(color: string): void {
      const kind = colorKind.peek();
      if (!kind || !colorsOf(kind)) return;
      const stored = storedColor(kind, color);
      const sel = selected.peek();
      if (!sel) {
        if (kind === 'region' || kind === 'flag' || kind === 'memo') colors.value = { ...colors.peek(), [kind]: stored };
        return;
      }
      if (sel.kind === 'memo') return void m.commitMemo({ ...sel.rec, color: stored });
      if (sel.kind === 'flag') return void m.commitFlag({ ...sel.rec, color: stored });
      const recs = sel.recs.map((r) => ({ ...r, color: stored }));
      void send(recs.map((rec) => ({ type: 'mark', rec })), () => (recs.length === 1 ? bridge.upsertMark(recs[0]) : bridge.upsertMarks(recs)));
    },

    // C: the next colour of the selection or of the tool.
    cycleColor(): void {
      const kind = colorKind.peek();
      if (!kind) return;
      const sel = selected.peek();
      const current = sel ? (sel.kind === 'marks' ? sel.recs[0].color : sel.rec.color)
        : kind === 'region' || kind === 'flag' || kind === 'memo' ? colors.peek()[kind] : '';
      const next = nextColor(kind, current);
      if (next !== undefined) m.chooseColor(next);
    },

    // F2: the text of the selection, in place.
    editSelected(): void {
      const sel = selected.peek();
      if (!sel) return;
      if (sel.kind === 'memo') memoEdit.value = { rec: sel.rec, isNew: false };
      else if (sel.kind === 'flag') flagEdit.value = { rec: sel.rec, isNew: false };
      else if (sel.recs[0].kind === 'region') regionEdit.value = { rec: sel.recs[0], isNew: false };
    },

    // --- Regions: the tab text typed after the frame ---

    commitRegion(text: string): void {
      const edit = regionEdit.peek();
      if (!edit) return;
      regionEdit.value = null;
      const rec = { ...edit.rec, text: text.trim() };
      if (!edit.isNew && rec.text === edit.rec.text) return;
      void send([{ type: 'mark', rec }], () => bridge.upsertMark(rec));
    },

    cancelRegion(): void {
      regionEdit.value = null;
    },

    // --- Memos ---

    openNewMemo(page: number, r: Rect): void {
      // A new memo must be seen.
      if (!store.memosVisible.peek()) m.setMemosVisible(true);
      memoEdit.value = {
        rec: { id: deps.newID(), text: '', color: colors.peek().memo, page, ...r },
        isNew: true,
      };
    },

    // The memo's text field: leaving it or Ctrl+Return keeps the text.
    commitMemoText(text: string): void {
      const edit = memoEdit.peek();
      if (!edit) return;
      memoEdit.value = null;
      if (!edit.isNew && text === edit.rec.text) return;
      void m.commitMemo({ ...edit.rec, text });
    },

    cancelMemoText(): void {
      memoEdit.value = null;
    },

    // A move or a resize in progress: drawn from here, nothing sent.
    drafting(d: Draft): void {
      putDrafts([d]);
    },

    undraft(id: string): void {
      const d = drafts.peek().get(id);
      if (d) dropDrafts([d]);
    },

    commitMemo(rec: Memo): Promise<void> {
      return send([{ type: 'memo', rec }], () => bridge.upsertMemo(rec));
    },

    setMemoColor(id: string, color: string): void {
      const memo = (store.cueState.peek().memos ?? []).find((x) => x.id === id);
      if (memo) void m.commitMemo({ ...memo, color: storedColor('memo', color) });
    },

    setMemosVisible(on: boolean): void {
      store.memosVisible.value = on;
      bridge.setSettings({ memosVisible: on }).then((s) => {
        if (s) store.settings.value = s;
      }, deps.quiet);
    },

    // --- Flags ---

    openNewFlag(page: number, p: Pt): void {
      flagEdit.value = {
        rec: { id: deps.newID(), text: '', color: colors.peek().flag, role: '', page, ...pointOnPage(p) },
        isNew: true,
      };
    },

    commitFlagForm(role: string, text: string): void {
      const edit = flagEdit.peek();
      if (!edit) return;
      flagEdit.value = null;
      const rec = { ...edit.rec, role: role.trim(), text: text.trim() };
      if (!edit.isNew && rec.role === edit.rec.role && rec.text === edit.rec.text) return;
      void m.commitFlag(rec);
    },

    cancelFlagForm(): void {
      flagEdit.value = null;
    },

    commitFlag(rec: Flag): Promise<void> {
      return send([{ type: 'flag', rec }], () => bridge.upsertFlag(rec));
    },

    // --- Menu, keys, Escape ---

    // "addMemo"/"addFlag" come from the menu in any mode: they bring Cue
    // Mode, where memos and flags are edited, and start at the reading line.
    menu(command: string): boolean {
      if (command === 'toggleMemos') {
        if (!store.confidence) m.setMemosVisible(!store.memosVisible.peek());
        return true;
      }
      if (command !== 'addMemo' && command !== 'addFlag') return false;
      if (!canEdit() || store.draft.peek()) return true;
      store.cueMode.value = true;
      const at = m.readingPlace();
      if (command === 'addMemo') m.openNewMemo(at.page, movedRect({ x: 0.06, y: at.y, w: 0.3, h: 0.08 }, 0, 0));
      else m.openNewFlag(at.page, { x: 0.02, y: at.y });
      return true;
    },

    // Alt+arrows: the selection moves a little, each press one undoable step.
    // Presses quicker than the answers start from the last position sent.
    nudge(dx: number, dy: number): boolean {
      const sel = selected.peek();
      if (!sel || !store.cueMode.peek()) return false;
      const ds = drafts.peek();
      const latest = <T extends { id: string }>(r: T): T => (ds.get(r.id)?.rec as T | undefined) ?? r;
      if (sel.kind === 'memo') {
        const r = latest(sel.rec);
        const moved = { ...r, ...movedRect(r, dx, dy) };
        if (moved.x !== r.x || moved.y !== r.y) void m.commitMemo(moved);
      } else if (sel.kind === 'flag') {
        const r = latest(sel.rec);
        const moved = { ...r, ...pointOnPage({ x: r.x + dx, y: r.y + dy }) };
        if (moved.x !== r.x || moved.y !== r.y) void m.commitFlag(moved);
      } else {
        const recs = sel.recs.map(latest);
        const moved = movedGroup(recs, dx, dy);
        if (moved.some((r, i) => r.x !== recs[i].x || r.y !== recs[i].y)) {
          void send(moved.map((rec) => ({ type: 'mark', rec })), () => (moved.length === 1 ? bridge.upsertMark(moved[0]) : bridge.upsertMarks(moved)));
        }
      }
      return true;
    },

    // The keys of keys.ts that are this module's; false for the others.
    key(action: KeyAction): boolean {
      const nudge = /^nudge(Left|Right|Up|Down)(Far)?$/.exec(action);
      if (nudge) {
        const d = nudge[2] ? markNudge.far : markNudge.step;
        const [dx, dy] = { Left: [-d, 0], Right: [d, 0], Up: [0, -d], Down: [0, d] }[nudge[1] as 'Left'];
        return m.nudge(dx, dy);
      }
      if (action.startsWith('tool')) {
        const t = toolOfKey(action.slice(4));
        if (t) m.toggleTool(t);
        return true;
      }
      switch (action) {
        case 'deleteMark': m.deleteSelected(); return true;
        case 'markColor': m.cycleColor(); return true;
        case 'editMark': m.editSelected(); return true;
        default: return false;
      }
    },

    // What the key rule needs: the tool keys in free Cue Mode, the selection's
    // keys (Delete, C, F2) only while something is selected.
    keyMode(cueModeFree: boolean): { markTools: boolean; markSelection: boolean } {
      const free = cueModeFree && !editing();
      return { markTools: free, markSelection: free && selected.peek() !== null };
    },

    // One step back per Escape: the drag, the open field, the selection, the tool.
    escape(): boolean {
      if (drag) {
        m.cancelDrag();
        return true;
      }
      if (regionEdit.peek()) return (m.cancelRegion(), true);
      if (memoEdit.peek()) return (m.cancelMemoText(), true);
      if (flagEdit.peek()) return (m.cancelFlagForm(), true);
      if (selection.peek()) return (m.deselect(), true);
      if (tool.peek()) return (m.setTool(null), true);
      return false;
    },
  };
  return m;
}

export type Marks = ReturnType<typeof createMarks>;
