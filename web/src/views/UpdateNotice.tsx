import { useApp } from './context';

// A newer build, offered quietly at the foot of the script: never a modal,
// never over GO or the standby panel. The buttons keep no focus, so a Space
// after a click is still GO.
export function UpdateNotice() {
  const { store, update } = useApp();
  const notice = store.update.value;
  if (!notice || store.confidence) return null;
  const keep = (e: MouseEvent) => e.preventDefault();
  const failed = notice.phase === 'failed';
  return (
    <div class={`update-notice${failed ? ' failed' : ''}`} role="status" aria-label="Update">
      <span class="update-text">
        {notice.phase === 'offer' || !notice.text
          ? `A new build ${notice.stamp} is available`
          : failed
            ? `The update failed: ${notice.text}`
            : notice.text}
      </span>
      {notice.phase !== 'installing' && (
        <>
          <button type="button" onMouseDown={keep} onClick={() => update.install()}>
            {failed ? 'Try again' : 'Install'}
          </button>
          <button type="button" aria-label="Dismiss update notice" onMouseDown={keep} onClick={() => update.dismiss()}>
            ×
          </button>
        </>
      )}
    </div>
  );
}
