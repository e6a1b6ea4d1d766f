// What the measurements put into the page before its own scripts run: a frame
// counter, the long tasks, the time of each key and of each call's answer.
// Runs inside the browser; keep it free of anything but the DOM.

export function probe() {
  const b = {
    frames: 0,
    frameTimes: null, // an array while a scroll is being measured
    longTasks: [],
    keyAt: 0,
    keyFrame: 0,
    keyHandledAt: 0,
    calls: {}, // name -> { sent, answered, lastAnswerAt }
  };
  window.__bench = b;
  const tick = (t) => {
    b.frames++;
    if (b.frameTimes) b.frameTimes.push(t);
    requestAnimationFrame(tick);
  };
  requestAnimationFrame(tick);
  try {
    new PerformanceObserver((list) => {
      for (const e of list.getEntries()) b.longTasks.push({ start: e.startTime, duration: e.duration });
    }).observe({ entryTypes: ['longtask'] });
  } catch {
    // no long task timing in this browser: the count stays empty
  }
  // Registered before the page's own handlers: the capture listener sees the
  // key first, the bubbling one after the page has handled it.
  addEventListener('keydown', () => {
    b.keyAt = performance.now();
    b.keyFrame = b.frames;
  }, true);
  addEventListener('keydown', () => {
    b.keyHandledAt = performance.now();
  }, false);
  // The host's shim looks fetch up on each call, so this sees every call.
  const realFetch = window.fetch.bind(window);
  window.fetch = (url, init) => {
    if (url !== '/call' || !init || typeof init.body !== 'string') return realFetch(url, init);
    let call = { name: '?', args: [] };
    try {
      call = JSON.parse(init.body);
    } catch {
      // counted under '?'
    }
    const c = (b.calls[call.name] ??= { sent: 0, answered: 0, lastAnswerAt: 0, pages: [] });
    c.sent++;
    if (call.name === 'renderPage') c.pages.push(call.args[0]);
    return realFetch(url, init).then((r) => {
      c.answered++;
      c.lastAnswerAt = performance.now();
      return r;
    });
  };
}

// Goes in before the page's scripts: when the first cue box and page image
// appear, and when the page says its first page is shown.
export function openProbe() {
  const t = { cueAt: NaN, imageAt: NaN, shownAt: NaN };
  window.__open = t;
  const seen = () => {
    if (Number.isNaN(t.cueAt) && document.querySelector('.cue')) t.cueAt = performance.now();
    const img = document.querySelector('img.page-image');
    if (Number.isNaN(t.imageAt) && img instanceof HTMLImageElement && img.complete && img.naturalWidth > 0) t.imageAt = performance.now();
  };
  new MutationObserver(seen).observe(document, { subtree: true, childList: true, attributes: true });
  addEventListener('load', seen, true);
  const realFetch = window.fetch.bind(window);
  window.fetch = (url, init) => {
    if (url === '/call' && typeof init?.body === 'string' && init.body.includes('"debugLog"') && init.body.includes('first page shown')) {
      t.shownAt = performance.now();
    }
    return realFetch(url, init);
  };
}
