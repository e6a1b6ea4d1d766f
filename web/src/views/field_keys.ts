// A one-line field over the script: Return keeps what was typed, Escape drops
// it; neither goes on to be GO or the leaving of a mode.
export function keepOrDrop(finish: (text: string | null) => void): (e: KeyboardEvent) => void {
  return (e) => {
    if (e.key === 'Enter') {
      e.preventDefault();
      finish((e.target as HTMLInputElement).value);
    } else if (e.key === 'Escape') {
      e.preventDefault();
      finish(null);
    }
  };
}

// Return in an "add" field adds, and goes no further (not GO, not the
// sheet's own Return).
export function enterAdds(add: () => void): (e: KeyboardEvent) => void {
  return (e) => {
    if (e.key !== 'Enter') return;
    e.preventDefault();
    e.stopPropagation();
    add();
  };
}
