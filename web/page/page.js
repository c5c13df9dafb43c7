// Polls the survey's JSON once a second; the token, once given, is kept in this browser.
'use strict';
let logAfter = 0;
let historyPass = -1;
let lastImage = null;
let framesLook = 0;
let site = null; // the site's zone as the last status gave it

// A UTC time of the JSON in the site's local time with its zone; the UTC time itself is the title.
function siteTime(iso, withSeconds = false) {
  if (!iso) return { text: '–', title: '' };
  const at = new Date(iso);
  const fields = { hour: '2-digit', minute: '2-digit', hourCycle: 'h23' };
  if (withSeconds) fields.second = '2-digit';
  let text;
  try {
    text = new Intl.DateTimeFormat('en-GB', { ...fields, timeZone: site ? site.zone : 'UTC' }).format(at);
  } catch (error) {
    // A zone this browser does not know: the offset the server gave for now.
    text = new Intl.DateTimeFormat('en-GB', { ...fields, timeZone: 'UTC' })
      .format(new Date(at.getTime() + (site ? site.utcOffset : 0) * 1000));
  }
  return { text: `${text} ${site ? site.zoneName : 'UTC'}`, title: iso.replace('T', ' ').replace('Z', ' UTC') };
}

function showTime(id, iso, withSeconds, prefix = '') {
  const t = siteTime(iso, withSeconds);
  const e = document.getElementById(id);
  show(id, prefix + t.text);
  if (!t.title) e.removeAttribute('title');
  else if (e.title !== t.title) e.title = t.title;
}

function cells(row, values) {
  for (const value of values) {
    const cell = document.createElement('td');
    if (typeof value === 'object') {
      cell.textContent = value.text;
      if (value.title) cell.title = value.title;
      if (value.wrap) cell.className = 'wrap';
    } else {
      cell.textContent = value;
    }
    row.appendChild(cell);
  }
}

function token() { return localStorage.getItem('kestroveToken') || ''; }

async function api(path, options = {}) {
  const headers = {};
  if (token()) headers['Authorization'] = 'Bearer ' + token();
  const reply = await fetch(path, { ...options, headers, cache: 'no-store' });
  if ((reply.status === 401 || reply.status === 403) && askToken()) return api(path, options);
  if (!reply.ok) throw new Error((await reply.json().catch(() => ({}))).error || reply.statusText);
  return reply.json();
}

function askToken() {
  const given = window.prompt('Token of this observatory ([web] token in observatory.ini):');
  if (!given) return false;
  localStorage.setItem('kestroveToken', given.trim());
  return true;
}

function pickText(pick) { return pick ? `${pick.kind} ${pick.target} (${pick.score.toFixed(2)})` : 'none'; }
function yesNo(value, yes, no) { return value === undefined || value === null ? 'unknown' : value ? yes : no; }
function show(id, text) { const e = document.getElementById(id); if (e.textContent !== text) e.textContent = text; }

async function refresh() {
  const s = await api('/api/status');
  const running = document.getElementById('running');
  if (s.site) site = s.site;
  const stopping = s.running && s.stopPending;
  running.textContent = s.running ? (stopping ? 'stopping' : 'running') : 'stopped';
  running.classList.toggle('on', s.running && !stopping);
  running.classList.toggle('stopping', !!stopping);
  show('status', s.status || '');
  if (s.pass && s.passStarted) {
    showTime('pass', s.passStarted, false, `${s.pass} at `);
  } else {
    show('pass', s.pass ? String(s.pass) : '–');
  }
  show('current', pickText(s.current));
  show('winners', s.winners.length ? s.winners.map(pickText).join(', ') : 'none');
  show('site', s.site ? [s.site.name, s.site.text, s.site.zone].filter(Boolean).join(', ') : 'unknown');
  showTime('now', s.now, true);
  // No weather source is not bad weather: nothing watches it.
  show('weather', yesNo(s.weatherSafe, 'safe', 'unsafe').replace('unknown', 'not watched (no weather source)'));
  show('dark', yesNo(s.dark, 'dark', 'Sun above the limit'));
  show('sun', typeof s.sunAltitude === 'number'
    ? `${s.sunAltitude.toFixed(1)}°` + (typeof s.sunLimit === 'number' ? ` (limit ${s.sunLimit}°)` : '') : 'unknown');
  if (s.darkAt) {
    showTime('nextDark', s.darkAt);
  } else {
    show('nextDark', s.dark ? 'now' : typeof s.sunAltitude === 'number' ? 'not within 36 hours' : 'unknown');
    document.getElementById('nextDark').removeAttribute('title');
  }
  show('observatory', s.observatory ? s.observatory.state + (s.observatory.fault ? ' – ' + s.observatory.fault : '') : 'none');
  document.getElementById('close').hidden = !s.observatory;
  document.querySelectorAll('.dome').forEach(e => { e.hidden = !s.dome; });
  if (s.dome) show('dome', s.dome.text);
  if (s.lastImage && s.lastImage !== lastImage) {
    lastImage = s.lastImage;
    show('imageName', s.lastImage);
    showPicture(thumbnailPath(), 'thumbnail', 'imageSection');
  }

  const log = await api('/api/log?after=' + logAfter);
  if (log.lines.length) {
    const pre = document.getElementById('log');
    pre.textContent = (pre.textContent + log.lines.join('\n') + '\n').split('\n').slice(-200).join('\n');
    pre.scrollTop = pre.scrollHeight;
  }
  logAfter = log.last;

  // Frames are graded some seconds after they are saved: a look every ten seconds keeps up.
  if (framesLook++ % 10 === 0) {
    showFrames(await api('/api/frames'));
    showDiscoveries(await api('/api/discoveries'));
  }

  if (s.pass !== historyPass) {
    historyPass = s.pass;
    const h = await api('/api/history');
    const body = document.querySelector('#history tbody');
    body.replaceChildren(...h.plans.map(p => {
      const row = document.createElement('tr');
      cells(row, [siteTime(p.start), p.kind, { text: p.target, wrap: true }, p.score.toFixed(2),
                  { text: p.result, wrap: true }]);
      return row;
    }));
    showChart();
    showLightcurves(await api('/api/lightcurves'));
    const preview = await api('/api/preview');
    document.getElementById('preview').replaceChildren(...preview.targets.map(t => {
      const item = document.createElement('li');
      item.textContent = pickText(t);
      return item;
    }));
  }
}

// Each series scaled to the strip's height on its own: their shapes, not their units, are compared.
function stripPoints(values) {
  const top = Math.max(...values, 1e-9);
  const step = values.length > 1 ? 600 / (values.length - 1) : 0;
  return values.map((v, i) => `${(i * step).toFixed(1)},${(115 - 110 * v / top).toFixed(1)}`).join(' ');
}

function showFrames(f) {
  document.getElementById('framesSection').hidden = !f.frames.length;
  if (!f.frames.length) return;
  document.getElementById('hfrLine').setAttribute('points', stripPoints(f.strip.map(p => p.hfr)));
  document.getElementById('starsLine').setAttribute('points', stripPoints(f.strip.map(p => p.stars)));
  show('stripRange', `${f.strip.length} frames from ${siteTime(f.strip[0].utc).text} to ${siteTime(f.strip[f.strip.length - 1].utc).text}`);
  document.querySelector('#frames tbody').replaceChildren(...f.frames.map(p => {
    const row = document.createElement('tr');
    row.className = p.grade;
    cells(row, [siteTime(p.utc, true), { text: p.target, wrap: true }, p.filter, String(p.stars), p.hfr.toFixed(2),
                { text: p.grade === 'accepted' ? 'accepted' : 'rejected: ' + p.reason, wrap: true }]);
    return row;
  }));
}

// Each candidate with its cut-outs to judge by eye and a verdict to give; each mover with its block
// for the Minor Planet Center. Drawn again only when something changed.
let discoveriesSeen = '';
function showDiscoveries(d) {
  const seen = JSON.stringify(d);
  if (seen === discoveriesSeen) return;
  discoveriesSeen = seen;
  document.getElementById('discoveriesSection').hidden = !d.candidates.length && !d.movers.length;
  document.getElementById('candidates').replaceChildren(...d.candidates.map(c => {
    const item = document.createElement('div');
    item.className = 'found ' + c.status;
    const line = document.createElement('p');
    line.textContent = 'Candidate ' + c.line;
    item.appendChild(line);
    const pictures = document.createElement('div');
    pictures.className = 'cutouts';
    c.cutouts.forEach((path, i) => {
      const picture = document.createElement('img');
      picture.id = `cutout-${c.id}-${i}`;
      picture.alt = ['reference', 'new', 'difference'][i];
      picture.title = picture.alt;
      pictures.appendChild(picture);
      fetchPicture(path).then(url => { if (url) picture.src = url; });
    });
    item.appendChild(pictures);
    for (const status of ['real', 'bogus']) {
      const button = document.createElement('button');
      button.type = 'button';
      button.textContent = status === 'real' ? 'Real' : 'Bogus';
      button.disabled = c.status === status;
      button.addEventListener('click', () => mark(c.id, status));
      item.appendChild(button);
    }
    return item;
  }));
  document.getElementById('movers').replaceChildren(...d.movers.map(m => {
    const item = document.createElement('div');
    item.className = 'found';
    const line = document.createElement('p');
    line.textContent = 'Mover ' + m.line;
    const block = document.createElement('pre');
    block.textContent = m.mpc;
    item.append(line, block);
    return item;
  }));
}

async function mark(id, status) {
  if (!token() && !askToken()) return;
  try {
    await api('/api/mark', { method: 'POST', body: JSON.stringify({ candidate: id, status }) });
    show('answer', `Candidate ${id} marked ${status}`);
    showDiscoveries(await api('/api/discoveries'));
  } catch (error) {
    show('answer', error.message);
  }
}

async function fetchPicture(path) {
  const headers = token() ? { 'Authorization': 'Bearer ' + token() } : {};
  const reply = await fetch(path, { headers, cache: 'no-store' });
  return reply.ok ? URL.createObjectURL(await reply.blob()) : null;
}

// Pictures are fetched with the token like the JSON, then shown from memory.
async function showPicture(path, id, section) {
  const headers = token() ? { 'Authorization': 'Bearer ' + token() } : {};
  const reply = await fetch(path, { headers, cache: 'no-store' });
  if (!reply.ok) return;
  const picture = document.getElementById(id);
  const old = picture.src;
  picture.src = URL.createObjectURL(await reply.blob());
  if (old.startsWith('blob:')) URL.revokeObjectURL(old);
  document.getElementById(section).hidden = false;
}

const showChart = () => showPicture('/night.png', 'chart', 'chartSection');

// Each star of the night's lightcurves with its plots of the night and of every night.
function showLightcurves(l) {
  const list = document.getElementById('lightcurves');
  list.replaceChildren(...l.targets.flatMap(target => ['night', 'all'].map(span => {
    const picture = document.createElement('img');
    picture.id = `lightcurve-${span}-${target}`;
    picture.className = 'lightcurve';
    picture.alt = `Magnitude of ${target} against time, ${span === 'all' ? 'every night' : 'tonight'}`;
    return picture;
  })));
  for (const target of l.targets)
    for (const span of ['night', 'all'])
      showPicture(`/lightcurve.png?target=${encodeURIComponent(target)}&span=${span}`,
                  `lightcurve-${span}-${target}`, 'lightcurveSection');
}

// A tap on the picture asks for the larger one, and another goes back.
let largeImage = false;
const thumbnailPath = () => largeImage ? '/thumbnail.png?size=large' : '/thumbnail.png';
document.getElementById('thumbnail').addEventListener('click', () => {
  largeImage = !largeImage;
  document.getElementById('thumbnail').classList.toggle('large', largeImage);
  showPicture(thumbnailPath(), 'thumbnail', 'imageSection');
});

async function act(path) {
  if (!token() && !askToken()) return;
  try {
    const reply = await api(path, { method: 'POST' });
    show('answer', reply.done + ': sent');
  } catch (error) {
    show('answer', error.message);
  }
}

document.getElementById('stop').addEventListener('click', () => act('/api/stop'));
document.getElementById('close').addEventListener('click', () => act('/api/close'));

async function loop() {
  try { await refresh(); } catch (error) { show('status', 'Kestrove cannot be reached: ' + error.message); }
  setTimeout(loop, 1000);
}
loop();
