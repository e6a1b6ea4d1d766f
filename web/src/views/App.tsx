import { useEffect } from 'preact/hooks';
import { createKeyLatch, keyAction } from '../state/keys';
import { useApp } from './context';
import { Monitor } from './Monitor';
import { ScriptView } from './ScriptView';
import { ShowPanel } from './ShowPanel';
import { Sidebar } from './Sidebar';
import { StartView } from './StartView';
import { Toolbar } from './Toolbar';
import { UpdateNotice } from './UpdateNotice';

export function App() {
  const { store, commands } = useApp();

  useEffect(() => {
    const latch = createKeyLatch();
    // Capture phase: no component can swallow GO before it is seen.
    const onKey = (e: KeyboardEvent) => {
      const action = keyAction(e, commands.keyMode());
      if (!action) return;
      // With no script there is nothing to fire: Return and Space stay with
      // the focused control, so the first screen works from the keyboard.
      if ((action === 'go' || action === 'back') && !store.doc.peek()) return;
      e.preventDefault();
      if (action === 'go' && !latch.down(e.code || e.key, e.timeStamp)) return;
      // The line cursor's arrows and Home/End are its own while it shows, not
      // also the cue list's that has the focus.
      if (action.startsWith('cursor')) e.stopPropagation();
      commands.key(action);
    };
    const onKeyUp = (e: KeyboardEvent) => latch.up(e.code || e.key);
    const onBlur = () => latch.clear();
    window.addEventListener('keydown', onKey, true);
    window.addEventListener('keyup', onKeyUp, true);
    window.addEventListener('blur', onBlur);
    return () => {
      window.removeEventListener('keydown', onKey, true);
      window.removeEventListener('keyup', onKeyUp, true);
      window.removeEventListener('blur', onBlur);
    };
  }, []);

  const dimmed = store.dimmed.value;
  if (store.confidence)
    return (
      <div class="app confidence">
        <Monitor />
        {dimmed && <div class="dim-veil" />}
      </div>
    );
  return (
    <div class="app">
      {!store.maxText.value && <Toolbar />}
      <div class="main">
        {store.sidebarVisible.value && <Sidebar />}
        {store.doc.value ? <ScriptView /> : <StartView />}
        {store.doc.value && <ShowPanel />}
      </div>
      <UpdateNotice />
      {dimmed && <div class="dim-veil" />}
    </div>
  );
}
