import { createContext } from 'preact';
import { useContext } from 'preact/hooks';
import type { App as Actions } from '../actions/app';
import type { Store } from '../state/store';

// The store and the page's actions by group; each view takes the groups it uses.
export type AppContext = Actions & { store: Store };

export const App = createContext<AppContext | null>(null);

export function useApp(): AppContext {
  const app = useContext(App);
  if (!app) throw new Error('view used outside the page');
  return app;
}
