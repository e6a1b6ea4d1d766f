import { useApp } from './context';
import '../scan.css';

// A click leaves the focus where it was, so Space and Return stay GO.
const keep = (e: MouseEvent) => e.preventDefault();

// A quiet line under the show's controls while the scanned pages are read,
// or why they cannot be. It never moves the script or GO, and takes no
// focus: only its × is a control. The progress is not spoken at every page.
export function ScanLine() {
  const { scan } = useApp();
  const line = scan.line.value;
  if (!line) return null;
  if (!line.problem) return <p class="scan-line" data-testid="scan-line">{line.text}</p>;
  return (
    <p class="scan-line scan-problem" role="status" data-testid="scan-line">
      <span>{line.text}</span>
      <button type="button" class="scan-dismiss" aria-label="Close" onMouseDown={keep} onClick={() => scan.dismiss()}>×</button>
    </p>
  );
}

// A corner of a page whose words came from text recognition: they may hold
// misread words. Only on the screen: the export draws from the marks, not the page.
export function ScanBadge({ page }: { page: number }) {
  const { scan } = useApp();
  if (!scan.recognised.value.has(page)) return null;
  return <div class="scan-badge" title="The words of this page were read from its scan by text recognition">recognised text</div>;
}
