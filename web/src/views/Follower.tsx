// The follower screen: the show as the caller runs it, on any phone or laptop
// of the crew, read-only. The standby large, the next cue and the count under
// it, a department filter, and the standby's page with its box marked. It
// never calls the native side: all it knows comes over its WebSocket.

import { computed, signal, type Signal } from '@preact/signals';
import { render } from 'preact';
import { useEffect, useLayoutEffect, useRef } from 'preact/hooks';
import { FollowerLink, type LinkState, type SocketConstructor } from '../actions/follower_link';
import {
  filterKey, firedText, followedCues, imageWidth, kindsOf, noMoreText, pageImageURL, readFilter, writeFilter,
  type FollowCue, type FollowRun, type FollowScript,
} from '../state/follower';
import { fallbackAspect } from '../state/layout';
import '../follower.css';

// A page can hold any number of boxes; past this many the page shows the first.
const maxBoxesOnPage = 500;

interface Model {
  token: string;
  script: Signal<FollowScript | null>;
  run: Signal<FollowRun | null>;
  link: Signal<LinkState>;
  kinds: Signal<ReadonlySet<string>>;
  setKinds: (kinds: ReadonlySet<string>) => void;
}

export interface FollowerOptions {
  token: string;
  url: string;
  Socket: SocketConstructor;
  // Where the chosen kinds are kept; null when the browser keeps nothing.
  storage: Pick<Storage, 'getItem' | 'setItem'> | null;
  random?: () => number;
}

function storedKinds(options: FollowerOptions): Set<string> {
  try {
    return readFilter(options.storage?.getItem(filterKey(options.token)) ?? null);
  } catch {
    return new Set();
  }
}

// Starts the follower in `root`; the answer stops it (the tests' unmount).
export function startFollower(root: HTMLElement, options: FollowerOptions): () => void {
  const model: Model = {
    token: options.token,
    script: signal(null),
    run: signal(null),
    link: signal('connecting'),
    kinds: signal(storedKinds(options)),
    setKinds(kinds) {
      model.kinds.value = kinds;
      try {
        options.storage?.setItem(filterKey(options.token), writeFilter(kinds));
      } catch {
        // A private window may refuse to keep it; the choice holds until the page closes.
      }
    },
  };
  const link = new FollowerLink({
    url: options.url,
    Socket: options.Socket,
    random: options.random,
    onState: (state) => void (model.link.value = state),
    onMessage: (message) => {
      if (message.type === 'script') model.script.value = message.script;
      else model.run.value = message.run;
    },
  });
  const wake = () => {
    if (document.visibilityState !== 'hidden') link.retryNow();
  };
  document.addEventListener('visibilitychange', wake);
  window.addEventListener('online', wake);
  render(<Follower model={model} />, root);
  link.start();
  return () => {
    link.stop();
    document.removeEventListener('visibilitychange', wake);
    window.removeEventListener('online', wake);
    render(null, root);
  };
}

function tagOf(cue: FollowCue): string {
  return [cue.kind, cue.number].filter(Boolean).join(' ') || '?';
}

function Band({ model }: { model: Model }) {
  const link = model.link.value;
  if (link === 'live') return null;
  const known = model.script.value !== null || model.run.value !== null;
  if (!known) return null;
  return (
    <div class="follow-band" role="status" data-testid="follow-lost">
      {link === 'lost' ? 'Connection lost — showing the last known state' : 'Connecting…'}
    </div>
  );
}

function KindFilter({ model, kinds }: { model: Model; kinds: string[] }) {
  const chosen = model.kinds.value;
  if (kinds.length === 0) return null;
  const toggle = (kind: string) => {
    const next = new Set(chosen);
    if (next.has(kind)) next.delete(kind);
    else next.add(kind);
    model.setKinds(next);
  };
  return (
    <div class="follow-filter" role="group" aria-label="Departments">
      <button type="button" aria-pressed={chosen.size === 0} onClick={() => model.setKinds(new Set())}>
        All cues
      </button>
      {kinds.map((kind) => (
        <button type="button" key={kind} aria-pressed={chosen.has(kind)} onClick={() => toggle(kind)}>
          {kind}
        </button>
      ))}
    </div>
  );
}

function StandbyBlock({ standby, next, filtered, none }: {
  standby: FollowCue | undefined; next: FollowCue | undefined; filtered: boolean; none: string;
}) {
  return (
    <div class="follow-standby" data-testid="follow-standby">
      <div class="caption">{filtered ? 'YOUR NEXT STANDBY' : 'STANDBY'}</div>
      {standby ? (
        <>
          <div class="follow-cue-line">
            {standby.kind && <span class="follow-kind">{standby.kind}</span>}
            <span class="follow-number">{standby.number || '?'}</span>
          </div>
          <div class="follow-label" title={standby.label}>{standby.label}</div>
        </>
      ) : (
        <div class="follow-none">{none}</div>
      )}
      <div class="follow-next" data-testid="follow-next">
        {standby && (next ? `next: ${tagOf(next)}${next.label ? ` · ${next.label}` : ''}` : 'next: —')}
      </div>
    </div>
  );
}

// One page at the column's width with the boxes of its cues, the shown
// standby's marked, the done ones dimmed and, with a filter, the other
// departments' faint.
function PageSheet({ script, page, cssWidth, target, doneBefore, kinds, token, sheet }: {
  script: FollowScript; page: number; cssWidth: number; target: FollowCue | undefined; doneBefore: number;
  kinds: ReadonlySet<string>; token: string; sheet?: { current: HTMLDivElement | null };
}) {
  const height = cssWidth / (script.document.aspects[page] ?? fallbackAspect);
  const onPage: { cue: FollowCue; index: number }[] = [];
  script.cues.forEach((cue, index) => {
    if (cue.page === page && cue.box && onPage.length < maxBoxesOnPage) onPage.push({ cue, index });
  });
  const dpr = typeof window.devicePixelRatio === 'number' ? window.devicePixelRatio : 1;
  return (
    <>
      <div class="follow-page-caption">Page {page + 1} of {script.document.pageCount}</div>
      <div class="follow-page" ref={sheet} style={{ height: `${height}px` }} data-page={page}>
        <img
          class="follow-page-image" alt="" draggable={false} key={page}
          src={pageImageURL(token, page, imageWidth(cssWidth, dpr))}
        />
        {onPage.map(({ cue, index }) => {
          const b = cue.box!;
          const classes = ['follow-box'];
          if (cue === target) classes.push('standby');
          else if (index < doneBefore) classes.push('done');
          if (kinds.size > 0 && !kinds.has(cue.kind)) classes.push('other');
          return (
            <div
              key={cue.id + index} class={classes.join(' ')} data-cue={cue.id}
              style={{ left: `${b.x * 100}%`, top: `${b.y * 100}%`, width: `${b.w * 100}%`, height: `${b.h * 100}%` }}
            >
              {cue === target && <span class="follow-box-tag">{tagOf(cue)}</span>}
            </div>
          );
        })}
      </div>
    </>
  );
}

// The standby's page and the one after it (what is coming is read ahead);
// the column scrolls to the standby whenever it changes.
function PageColumn({ script, page, shown, doneBefore, kinds, token }: {
  script: FollowScript; page: number; shown: FollowCue | undefined; doneBefore: number;
  kinds: ReadonlySet<string>; token: string;
}) {
  const scroller = useRef<HTMLDivElement>(null);
  const sheet = useRef<HTMLDivElement>(null);
  const width = useSignalWidth(scroller);
  const cssWidth = width.value;
  const height = cssWidth / (script.document.aspects[page] ?? fallbackAspect);
  const target = shown && shown.page === page ? shown : undefined;

  useLayoutEffect(() => {
    const el = scroller.current;
    if (!el || cssWidth <= 0) return;
    // The standby a third of the way down: the lines before it are read too.
    const top = sheet.current?.offsetTop ?? 0;
    el.scrollTop = Math.max(0, target?.box ? top + target.box.y * height - el.clientHeight / 3 : 0);
  }, [target?.id, page, height]);

  // Arrow keys and Page Down scroll the script from the start; they do nothing else.
  useEffect(() => scroller.current?.focus({ preventScroll: true }), [cssWidth > 0]);

  if (script.document.pageCount === 0) return <div class="follow-empty">The script has no pages</div>;
  const common = { script, cssWidth, target, doneBefore, kinds, token };
  return (
    <div class="follow-scroll" ref={scroller} tabIndex={0} aria-label="Script" data-testid="follow-script">
      {cssWidth > 0 && <PageSheet {...common} page={page} sheet={sheet} />}
      {cssWidth > 0 && page + 1 < script.document.pageCount && <PageSheet {...common} page={page + 1} />}
    </div>
  );
}

// The element's width, kept as it resizes (a phone turned, a window dragged).
function useSignalWidth(ref: { current: HTMLElement | null }): Signal<number> {
  const width = useRef(signal(0)).current;
  useEffect(() => {
    const el = ref.current;
    if (!el) return;
    const measure = () => void (width.value = el.clientWidth);
    measure();
    window.addEventListener('resize', measure);
    const observer = typeof ResizeObserver === 'function' ? new ResizeObserver(measure) : null;
    observer?.observe(el);
    return () => {
      window.removeEventListener('resize', measure);
      observer?.disconnect();
    };
  }, []);
  return width;
}

export function Follower({ model }: { model: Model }) {
  const view = useRef(
    computed(() => {
      const script = model.script.value;
      const run = model.run.value;
      const kinds = model.kinds.value;
      if (!script || !run) return null;
      return { script, run, kinds, followed: followedCues(script, run, kinds), offered: kindsOf(script.cues, kinds) };
    }),
  ).current;
  const title = model.script.value?.document.title;
  useEffect(() => {
    document.title = title ? `${title} · follow` : 'Follow the show';
  }, [title]);

  const v = view.value;
  if (!v) {
    const lost = model.link.value === 'lost';
    return (
      <div class="follower">
        <div class="follow-empty" role="status">
          {lost ? 'Cannot reach the show — trying again' : 'Connecting to the show…'}
        </div>
      </div>
    );
  }
  const { script, run, kinds, followed, offered } = v;
  const filtered = kinds.size > 0;
  return (
    <div class="follower">
      <Band model={model} />
      <div class="follow-body">
        <section class="follow-head">
          <div class="follow-title">{script.document.title}</div>
          <StandbyBlock standby={followed.standby} next={followed.next} filtered={filtered} none={noMoreText(filtered ? kinds : null)} />
          <div class="follow-count" data-testid="follow-count">{firedText(run)}</div>
          <KindFilter model={model} kinds={offered} />
        </section>
        <section class="follow-column">
          <PageColumn
            script={script} page={followed.page} shown={followed.standby} doneBefore={followed.doneBefore} kinds={kinds}
            token={model.token}
          />
        </section>
      </div>
    </div>
  );
}
