import { useApp } from './context';
import { PageSheet } from './PageSheets';

function fileName(path: string): string {
  const parts = path.split('/');
  return parts[parts.length - 1] || path;
}

export function StartView() {
  const { store, documents } = useApp();
  const recents = store.recentDocuments.value;
  return (
    <div class="start">
      <h1 class="start-title">TALLOWMARK</h1>
      <div class="start-actions">
        <button type="button" class="primary" onClick={() => void documents.openPanel()}>
          Open Script…
        </button>
        <button type="button" onClick={() => void documents.openDemo()}>
          Open Demo Script
        </button>
      </div>
      {recents.length > 0 && (
        <section class="recents" aria-label="Recent scripts">
          <h2>Recent scripts</h2>
          <ul>
            {recents.map((path) => (
              <li key={path}>
                <button type="button" class="recent" title={path} onClick={() => void documents.openPath(path)}>
                  {fileName(path)}
                </button>
              </li>
            ))}
          </ul>
        </section>
      )}
      {store.message.value && <p class="message" role="status">{store.message.value}</p>}
      <PageSheet />
    </div>
  );
}
