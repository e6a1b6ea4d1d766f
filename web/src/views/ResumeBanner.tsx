import { useApp } from './context';

// A quiet line over the script after reopening a script with a saved run.
// The buttons take focus only when clicked or tabbed to, so GO stays on Return.
export function ResumeBanner() {
  const { store, run } = useApp();
  const text = store.resumeText.value;
  if (!text) return null;
  return (
    <div class="resume-banner" role="status">
      <span>{text}</span>
      <button type="button" onClick={() => run.resumeRun()}>Resume</button>
      <button type="button" onClick={() => run.discardRun()}>Discard</button>
    </div>
  );
}
