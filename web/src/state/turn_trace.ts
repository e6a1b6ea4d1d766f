// The technician's trace of a page turn: "painted page N" once the frame that
// shows page N's image is drawn, so a benchmark can time a key or a desk's
// page command to the screen. Only with the trace on; a later turn replaces
// an earlier one still waiting.

const giveUpMs = 10000;
let latest = 0;

export function tracePageTurn(page: number, log: (line: string) => void): void {
  const turn = ++latest;
  const started = performance.now();
  const check = () => {
    if (turn !== latest) return;
    const img = document.querySelector(`.page[data-page="${page}"] img.page-image`);
    if (img instanceof HTMLImageElement && img.complete && img.naturalWidth > 0) {
      // Complete in this frame's callback, so drawn in this frame; the next
      // callback runs once that frame is done.
      requestAnimationFrame(() => log(`painted page ${page}`));
      return;
    }
    if (performance.now() - started < giveUpMs) requestAnimationFrame(check);
  };
  requestAnimationFrame(check);
}

// "painted report N" once the Show Report sheet shows the performance list of
// N performances (or its empty note), timed like a page turn.
export function traceReportShown(performances: number, log: (line: string) => void): void {
  const started = performance.now();
  const check = () => {
    const sheet = document.querySelector('.report-performances, .report-empty');
    if (sheet) {
      requestAnimationFrame(() => log(`painted report ${performances}`));
      return;
    }
    if (performance.now() - started < giveUpMs) requestAnimationFrame(check);
  };
  requestAnimationFrame(check);
}
